#pragma once

// A stand-in for std::clog's buffer that records each write call as one entry: the trace
// channel promises one call per trace (or per batch), and tests count them.

#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace testsupport {

class ClogRecorder final : public std::streambuf
{
public:
    ClogRecorder() : m_previous(std::clog.rdbuf(this)) {}
    ~ClogRecorder() override { std::clog.rdbuf(m_previous); }
    ClogRecorder(const ClogRecorder&) = delete;
    ClogRecorder& operator=(const ClogRecorder&) = delete;

    std::vector<std::string> calls;

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        calls.emplace_back(text, std::size_t(count));
        return count;
    }
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            calls.emplace_back(1, traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }

private:
    std::streambuf* m_previous;
};

} // namespace testsupport
