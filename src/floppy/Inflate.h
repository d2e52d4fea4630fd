// Deflate decoder (RFC 1951): stored, fixed-Huffman and dynamic-Huffman blocks.
//
// The compressed data may arrive in pieces of any size, down to single bytes; the decoder keeps
// its place between pieces, including in the middle of a block header or a code. Output goes
// to a callback in pieces; by the time Feed returns, every byte it could decode has been
// handed over. The last 32 KB of output are kept for back-references, so the caller need not
// keep anything.
//
// Damaged input stops the decoder at the first fault: codes that are over-subscribed or not
// in the table, a stored block whose length check fails, a distance reaching back before the
// first byte, a repeat that runs past the code-length list. The decoder's buffers are fixed
// in size; nothing in the input decides how much memory it takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace vexil {

// Receives one piece of output; returns 0 to go on, or 1 to stop the decoder with an error.
using InflateOutput = std::function<int(const uint8_t* data, size_t length)>;

class Inflater {
public:
    // Null when memory runs out.
    static std::unique_ptr<Inflater> Create(InflateOutput output);
    ~Inflater();

    // Decodes as far as the bytes allow. 0, or non-zero on a format error or when the output
    // callback refused a piece; after a failure every later call fails too. Bytes after the
    // final block are ignored.
    int Feed(const uint8_t* data, size_t length);
    // 0 when the final block has been decoded completely and without error, else non-zero.
    int End() const;

    bool Finished() const;
    bool Failed() const;

    struct State;  // opaque: tables, window and the point reached

private:
    explicit Inflater(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};

}  // namespace vexil
