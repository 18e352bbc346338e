#pragma once

#include <memory>
#include <ostream>
#include <string>

class QFileDevice;

namespace Veltrane {

/// An output stream that saves a file without ever leaving a partial one at
/// its path.
///
/// The bytes go to a new file in the target's folder; commit() puts it in the
/// target's place once everything has been written, synchronised to the disk
/// and closed. Until then a file already at the path stays as it was, and a
/// save that fails (a full disk) or is abandoned (the stream is destroyed
/// without commit()) leaves that file untouched and no new file behind. A
/// replaced file keeps its permissions; a symbolic link keeps pointing at the
/// file it names, which is replaced.
///
/// A path naming something that is not a regular file (a device such as
/// /dev/null, a pipe) cannot be replaced and is written directly.
class AtomicFileStream : public std::ostream {
public:
    /// Opens the new file; the stream is bad when it cannot be created.
    explicit AtomicFileStream(const std::string& path);
    /// Discards what was written unless commit() succeeded.
    ~AtomicFileStream() override;
    AtomicFileStream(const AtomicFileStream&) = delete;
    AtomicFileStream& operator=(const AtomicFileStream&) = delete;

    /// Flushes, synchronises and closes the new file and puts it in the
    /// target's place. False, with an error in the log and the target as it
    /// was, when a write failed or the file could not be completed. The
    /// stream takes no more output afterwards.
    bool commit();

private:
    class DeviceBuffer;

    std::string m_path;
    std::unique_ptr<QFileDevice> m_file;
    std::unique_ptr<DeviceBuffer> m_buffer;
};

}  // namespace Veltrane
