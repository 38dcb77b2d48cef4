#pragma once

#include <cstddef>
#include <memory>
#include <streambuf>

// A stream buffer reading a file descriptor (the server's standard input) in
// large reads, and counting the reads that brought bytes. The count tells a
// reader whether a line was already in the buffer at some earlier moment, and
// so was sent before it: the server looks at its configuration once per read
// rather than once per message.
class DescriptorInput : public std::streambuf {
  public:
    explicit DescriptorInput(int fd, size_t bufferSize = size_t(64) << 10);
    DescriptorInput(const DescriptorInput&) = delete;
    DescriptorInput& operator=(const DescriptorInput&) = delete;

    // The reads of the descriptor that returned bytes, so far.
    size_t reads() const { return m_reads; }

  protected:
    int_type underflow() override;
    // Bytes waiting in the descriptor itself (a pipe, a terminal), found
    // without reading them; 0 when unknown.
    std::streamsize showmanyc() override;

  private:
    int m_fd;
    size_t m_size;
    // Left unfilled: a process that reads one short line touches one page of
    // it, not sixty-four kilobytes, at start.
    std::unique_ptr<char[]> m_buffer;
    size_t m_reads = 0;
};
