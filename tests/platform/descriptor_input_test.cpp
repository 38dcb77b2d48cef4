// The server's standard input: lines read through pipes, and the count of
// reads that tells a line already buffered from one that came later.
#include "platform/descriptor_input.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <istream>
#include <string>

namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    void write(const std::string& bytes) { ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void closeWriter() {
        ::close(fds[1]);
        fds[1] = -1;
    }
};

std::string nextLine(std::istream& in) {
    std::string line;
    EXPECT_TRUE(std::getline(in, line));
    return line;
}

TEST(DescriptorInput, CountsTheReadsThatBroughtEachLine) {
    Pipe pipe;
    DescriptorInput input(pipe.fds[0]);
    std::istream in(&input);
    EXPECT_EQ(input.reads(), 0u);
    EXPECT_EQ(input.in_avail(), 0) << "nothing waits";

    pipe.write("un\ndeux\n");
    EXPECT_EQ(input.in_avail(), 8) << "what waits in the pipe is seen without reading it";
    EXPECT_EQ(input.reads(), 0u);
    EXPECT_EQ(nextLine(in), "un");
    EXPECT_EQ(nextLine(in), "deux");
    EXPECT_EQ(input.reads(), 1u) << "both came in one read";

    pipe.write("trois\nqua");
    EXPECT_EQ(nextLine(in), "trois");
    EXPECT_EQ(input.reads(), 2u);
    pipe.write("tre\n");
    EXPECT_EQ(nextLine(in), "quatre");
    EXPECT_EQ(input.reads(), 3u) << "a line ended by a later read counts that read";

    pipe.write("fin");
    pipe.closeWriter();
    EXPECT_EQ(nextLine(in), "fin");
    std::string rest;
    EXPECT_FALSE(std::getline(in, rest));
    EXPECT_EQ(input.reads(), 4u) << "the end of the input is no read of bytes";
}

TEST(DescriptorInput, ALineLongerThanTheBufferIsReadWhole) {
    Pipe pipe;
    DescriptorInput input(pipe.fds[0], 16);
    std::istream in(&input);
    std::string longLine(1000, 'x');
    pipe.write(longLine + "\nnext\n");
    pipe.closeWriter();
    EXPECT_EQ(nextLine(in), longLine);
    EXPECT_EQ(nextLine(in), "next");
    EXPECT_GT(input.reads(), 60u);
}

TEST(DescriptorInput, AnUnreadableDescriptorIsAnEmptyInput) {
    DescriptorInput input(-1);
    std::istream in(&input);
    std::string line;
    EXPECT_FALSE(std::getline(in, line));
    EXPECT_EQ(input.in_avail(), 0);
}

}  // namespace
