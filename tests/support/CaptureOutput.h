// Captures what the process writes to standard output and standard error at the descriptor
// level (C stdio, C++ streams and Python's unbuffered streams alike), in the order written.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

class CaptureOutput {
public:
    CaptureOutput()
        : _out(start(STDOUT_FILENO, _savedOut, _outPath)),
          _err(start(STDERR_FILENO, _savedErr, _errPath)) {}
    ~CaptureOutput() { stop(); }
    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    // Ends the capture (idempotent) and keeps the texts.
    void stop() {
        if (_stopped) {
            return;
        }
        _stopped = true;
        std::cout.flush();
        std::cerr.flush();
        std::fflush(stdout);
        std::fflush(stderr);
        _outText = finish(STDOUT_FILENO, _savedOut, _outPath);
        _errText = finish(STDERR_FILENO, _savedErr, _errPath);
    }
    std::string out() {
        stop();
        return _outText;
    }
    std::string err() {
        stop();
        return _errText;
    }

private:
    static int start(int fd, int& saved, std::string& path) {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
        char name[] = "/tmp/ppp-capture-XXXXXX";
        int tmp = mkstemp(name);
        path = name;
        saved = dup(fd);
        dup2(tmp, fd);
        close(tmp);
        return fd;
    }
    static std::string finish(int fd, int saved, const std::string& path) {
        dup2(saved, fd);
        close(saved);
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::remove(path.c_str());
        return text.str();
    }

    int _savedOut = -1;
    int _savedErr = -1;
    std::string _outPath;
    std::string _errPath;
    int _out;
    int _err;
    bool _stopped = false;
    std::string _outText;
    std::string _errText;
};
