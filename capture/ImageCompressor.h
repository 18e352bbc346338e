#pragma once

namespace Veltrane {

class Image;

/// How `ImageCompressor` encodes an image.
enum class CompressionMode : int {
    ZlibDefault = 0,      ///< zlib stream, default strategy
    ZlibHuffmanOnly = 1,  ///< zlib stream, Huffman coding only
    ZlibRle = 2,          ///< zlib stream, run-length strategy (recorded sequences)
    Png = 3,              ///< a PNG file, 8- or 16-bit grey or RGB; cannot be decoded here
};

/// Compresses one host-memory image into a caller's buffer and back.
///
/// The zlib modes produce one complete zlib stream (RFC 1950, 32 KiB window) of
/// the raw element bytes, values wider than a byte low byte first. An image with
/// three channels is split into three planes first, all samples of the first
/// channel, then the second, then the third, so that runs of equal values in
/// one channel stay together. Decompression reverses this. The compressor keeps
/// no state between calls.
class ImageCompressor {
public:
    /// Compresses `image` into `out`; `*size` holds the room in `out` on entry
    /// and the number of bytes produced on success. False without a message for
    /// a null image or buffer, an image without host memory or of an unknown
    /// element type, `*size` <= 0, an unknown mode or a level outside 0-9; false
    /// with an error message when the output does not fit or zlib fails.
    bool compress(const Image* image, CompressionMode mode, int level, unsigned char* out,
                  int* size) const;

    /// Decodes `length` bytes of a zlib stream into `image`, which must already
    /// have the size, type and channel count of the compressed image. All zlib
    /// modes decode alike; Png and unknown modes are refused without a message.
    /// False with an error message when the stream is corrupt or does not yield
    /// exactly the image's byte size.
    bool decompress(const unsigned char* data, int length, CompressionMode mode, Image* image) const;
};

}  // namespace Veltrane
