#include "testsupport/PlyFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>

namespace Veltrane {

namespace {

std::size_t sizeOfPlyType(const std::string& type)
{
    static const std::map<std::string, std::size_t> sizes = {
        {"char", 1},  {"uchar", 1}, {"int8", 1},   {"uint8", 1},  {"short", 2},  {"ushort", 2},
        {"int16", 2}, {"uint16", 2}, {"int", 4},   {"uint", 4},   {"int32", 4},  {"uint32", 4},
        {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
    const auto it = sizes.find(type);
    return it == sizes.end() ? 0 : it->second;
}

double readPlyValue(const std::string& type, const unsigned char*& p)
{
    const std::size_t size = sizeOfPlyType(type);
    std::uint64_t raw = 0;
    for (std::size_t b = 0; b < size; ++b) {
        raw |= static_cast<std::uint64_t>(p[b]) << (8 * b);
    }
    p += size;
    const bool isSigned = type == "char" || type == "int8" || type == "short" || type == "int16" ||
                          type == "int" || type == "int32";
    if (type == "float" || type == "float32") {
        float f;
        const auto bits = static_cast<std::uint32_t>(raw);
        std::memcpy(&f, &bits, 4);
        return f;
    }
    if (type == "double" || type == "float64") {
        double d;
        std::memcpy(&d, &raw, 8);
        return d;
    }
    if (isSigned && size < 8 && (raw >> (8 * size - 1)) != 0) {
        return static_cast<double>(static_cast<std::int64_t>(raw) - (std::int64_t{1} << (8 * size)));
    }
    return static_cast<double>(raw);
}

}  // namespace

PlyContents readPly(const std::vector<unsigned char>& file)
{
    struct Property {
        std::string name, type, countType;  // countType set for lists
    };
    struct Element {
        std::string name;
        std::size_t count;
        std::vector<Property> properties;
    };
    PlyContents contents;
    std::vector<Element> elements;
    const std::string text(file.begin(), file.end());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) {
            ADD_FAILURE() << "no end_header";
            return contents;
        }
        std::istringstream line(text.substr(pos, eol - pos));
        pos = eol + 1;
        std::string word;
        line >> word;
        if (word == "end_header") {
            break;
        }
        if (word == "format") {
            line >> contents.format;
        } else if (word == "element") {
            Element e;
            line >> e.name >> e.count;
            elements.push_back(e);
        } else if (word == "property") {
            Property p;
            line >> p.type;
            if (p.type == "list") {
                line >> p.countType >> p.type;
            }
            line >> p.name;
            elements.back().properties.push_back(p);
        }
    }
    const unsigned char* p = file.data() + pos;
    const unsigned char* end = file.data() + file.size();
    for (const Element& e : elements) {
        for (std::size_t i = 0; i < e.count; ++i) {
            std::map<std::string, double> record;
            std::vector<long> list;
            for (const Property& property : e.properties) {
                if (p >= end) {
                    ADD_FAILURE() << "file ends inside element " << e.name;
                    return contents;
                }
                if (property.countType.empty()) {
                    record[property.name] = readPlyValue(property.type, p);
                } else {
                    const auto n = static_cast<long>(readPlyValue(property.countType, p));
                    for (long k = 0; k < n; ++k) {
                        list.push_back(static_cast<long>(readPlyValue(property.type, p)));
                    }
                }
            }
            if (e.name == "vertex") {
                contents.vertices.push_back(record);
            } else if (e.name == "face") {
                contents.faces.push_back(list);
            }
        }
    }
    EXPECT_EQ(p, end) << "bytes left after the last element";
    return contents;
}

}  // namespace Veltrane
