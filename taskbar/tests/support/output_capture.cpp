#include "output_capture.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace taskbar_test {
namespace {

std::string tempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name + std::to_string(GetCurrentProcessId()) + ".txt";
}

}  // namespace

OutputCapture::OutputCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    m_out = {1, _dup(1), tempPath("taskelle_out")};
    m_err = {2, _dup(2), tempPath("taskelle_err")};
    for (Stream* s : {&m_out, &m_err}) {
        const int fd = _open(s->path.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
        _dup2(fd, s->fd);
        _close(fd);
    }
}

OutputCapture::~OutputCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (Stream* s : {&m_out, &m_err}) {
        const std::string captured = readAll(*s);
        _dup2(s->saved, s->fd);
        _close(s->saved);
        DeleteFileA(s->path.c_str());
        // Whatever was printed meanwhile (test failures included) is shown after all.
        _write(s->fd, captured.data(), static_cast<unsigned>(captured.size()));
    }
}

std::string OutputCapture::readAll(Stream& s) {
    std::ifstream in(s.path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string OutputCapture::out() {
    std::fflush(stdout);
    return readAll(m_out);
}

std::string OutputCapture::err() {
    std::fflush(stderr);
    return readAll(m_err);
}

}  // namespace taskbar_test
