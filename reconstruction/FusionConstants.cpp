#include "reconstruction/FusionConstants.h"

#include <cstdio>
#include <sstream>

namespace Veltrane::FusionConstants {

namespace {

/// `value` as an OpenCL float literal that reads back as the same float.
std::string floatLiteral(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(static_cast<float>(value)));
    std::string literal(text);
    if (literal.find_first_of(".e") == std::string::npos)
        literal += ".0";
    return literal + "f";
}

}  // namespace

std::string openClDefinitions()
{
    std::ostringstream lines;
    lines << "#define MAX_COLOR_WEIGHT " << maxColorWeight << "\n"
          << "#define DISCONTINUITY_STEP " << floatLiteral(discontinuityStep) << "\n"
          << "#define TANGENT_SPAN " << floatLiteral(tangentSpan) << "\n"
          << "#define NORMAL_NEIGHBOURHOOD " << floatLiteral(normalNeighbourhood) << "\n"
          << "#define NUMERIC_GUARD " << floatLiteral(numericGuard) << "\n";
    return lines.str();
}

}  // namespace Veltrane::FusionConstants
