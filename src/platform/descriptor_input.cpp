#include "platform/descriptor_input.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

DescriptorInput::DescriptorInput(int fd, size_t bufferSize)
    : m_fd(fd), m_size(bufferSize > 0 ? bufferSize : 1), m_buffer(std::make_unique_for_overwrite<char[]>(m_size)) {}

DescriptorInput::int_type DescriptorInput::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    ssize_t n;
    do {
        n = ::read(m_fd, m_buffer.get(), m_size);
    } while (n < 0 && errno == EINTR);
    // A failing read ends the input as the end of file does: nothing more
    // can come from it.
    if (n <= 0) return traits_type::eof();
    ++m_reads;
    setg(m_buffer.get(), m_buffer.get(), m_buffer.get() + n);
    return traits_type::to_int_type(*gptr());
}

std::streamsize DescriptorInput::showmanyc() {
    int waiting = 0;
    if (::ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting < 0) return 0;
    return waiting;
}
