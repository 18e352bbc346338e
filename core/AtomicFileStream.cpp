#include "core/AtomicFileStream.h"

#include "core/Logging.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <array>
#include <streambuf>

namespace Veltrane {

/// Collects output in a buffer of its own and hands it to the device in large
/// writes; blocks larger than the buffer go to the device directly. A write the
/// device refuses fails the stream.
class AtomicFileStream::DeviceBuffer : public std::streambuf {
public:
    explicit DeviceBuffer(QIODevice& device) : m_device(device) { resetPutArea(); }

protected:
    int_type overflow(int_type c) override
    {
        if (!writePending())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* data, std::streamsize count) override
    {
        if (count < epptr() - pptr())
            return std::streambuf::xsputn(data, count);
        return writePending() && writeToDevice(data, count) ? count : 0;
    }

    int sync() override { return writePending() ? 0 : -1; }

private:
    bool writePending()
    {
        const std::streamsize pending = pptr() - pbase();
        resetPutArea();
        return pending == 0 || writeToDevice(m_buffer.data(), pending);
    }

    /// Retries after a short write, so that the device records why it stopped.
    bool writeToDevice(const char* data, std::streamsize count)
    {
        while (count > 0) {
            const qint64 written = m_device.write(data, count);
            if (written <= 0)
                return false;
            data += written;
            count -= written;
        }
        return true;
    }

    void resetPutArea() { setp(m_buffer.data(), m_buffer.data() + m_buffer.size()); }

    QIODevice& m_device;
    std::array<char, 1 << 16> m_buffer;
};

AtomicFileStream::AtomicFileStream(const std::string& path) : std::ostream(nullptr), m_path(path)
{
    const QString name = QString::fromLocal8Bit(path.c_str());
    const QFileInfo target(name);
    // exists() and isFile() follow symbolic links.
    if (target.exists() && !target.isFile())
        m_file = std::make_unique<QFile>(name);
    else
        m_file = std::make_unique<QSaveFile>(name);
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        VELTRANE_ERROR("Could not open " << path << " for writing: "
                                         << m_file->errorString().toLocal8Bit().constData());
        m_file.reset();
        setstate(std::ios::badbit);
        return;
    }
    m_buffer = std::make_unique<DeviceBuffer>(*m_file);
    rdbuf(m_buffer.get());
}

AtomicFileStream::~AtomicFileStream() = default;

bool AtomicFileStream::commit()
{
    if (!m_file)
        return false;
    flush();
    // A save file that is not committed discards what it holds.
    bool written = good();
    if (written) {
        if (auto* saveFile = dynamic_cast<QSaveFile*>(m_file.get())) {
            written = saveFile->commit();
        } else {
            m_file->close();
            written = m_file->error() == QFileDevice::NoError;
        }
    }
    if (!written)
        VELTRANE_ERROR("Could not write " << m_path << ": "
                                          << m_file->errorString().toLocal8Bit().constData());
    rdbuf(nullptr);  // also sets badbit
    m_buffer.reset();
    m_file.reset();
    return written;
}

}  // namespace Veltrane
