// Captures what the library prints to standard output and standard error (the C
// runtime's descriptors 1 and 2, shared by the test program and the library).
// Everything captured is written out again when the capture ends.
#pragma once

#include <string>

namespace taskbar_test {

class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // Everything written so far (capture goes on).
    std::string out();
    std::string err();

private:
    struct Stream {
        int fd;
        int saved;
        std::string path;
    };
    static std::string readAll(Stream& s);
    Stream m_out;
    Stream m_err;
};

}  // namespace taskbar_test
