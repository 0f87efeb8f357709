// Independent encoding of expected texts: UTF-8 wording written in the tests,
// turned into code page 932 by the C library's iconv at run time.
#pragma once

#include <iconv.h>

#include <stdexcept>
#include <string>

inline std::string Cp932(const std::string& utf8) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 converter");
    std::string out(utf8.size() * 2 + 1, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* at = &out[0];
    size_t outLeft = out.size();
    const size_t done = iconv(converter, &in, &inLeft, &at, &outLeft);
    iconv_close(converter);
    if (done == static_cast<size_t>(-1) || inLeft != 0) throw std::runtime_error("not encodable: " + utf8);
    out.resize(out.size() - outLeft);
    return out;
}
