// The store's text form.

#include "store_text.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "shortest.h"
#include "words.h"

namespace store {

using namespace patcher;
using namespace words;

namespace {

template <typename T> std::string shortest_text(T v)
{
    if (std::isnan(v))
        return std::signbit(v) ? "-nan" : "nan";
    if (std::isinf(v))
        return v < 0 ? "-inf" : "inf";
    std::string s = shortest::text(v);
    if (s.find_first_of(".eE") == std::string::npos)
        s += ".0";
    return s;
}

} // namespace

std::string float_text(float f)
{
    return shortest_text(f);
}

std::string double_text(double d)
{
    return shortest_text(d);
}

namespace {

// The text form's words: a number word, or inf, -inf, nan, -nan, which it
// writes for those floats.
e_word text_classify(const std::string &w)
{
    if (w == "inf" || w == "-inf" || w == "nan" || w == "-nan")
        return WORD_FLOAT;
    return classify(w);
}

bool is_control(unsigned char c)
{
    return c < 0x20 || c == 0x7f;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string symbol_text(const char *name)
{
    std::string s = name ? name : "";
    bool quote = s.empty() || text_classify(s) != WORD_SYMBOL;
    for (unsigned char c : s)
        if (is_blank((char)c) || is_control(c) || c == '"' || c == '\\' || c == ';')
            quote = true;
    if (!quote)
        return s;
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += (char)c;
        } else if (c == '\n') {
            q += "\\n";
        } else if (c == '\r') {
            q += "\\r";
        } else if (c == '\t') {
            q += "\\t";
        } else if (is_control(c)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            q += hex;
        } else {
            q += (char)c;
        }
    }
    return q + "\"";
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted word starting at text[i] == '"'; i ends past the closing
// quote.  False on an unterminated word or an unknown escape.
bool read_quoted(const std::string &text, size_t &i, std::string &word)
{
    i++;
    while (i < text.size()) {
        char c = text[i++];
        if (c == '"')
            return true;
        if (c == '\0')
            return false; // a symbol's name cannot hold a NUL
        if (c != '\\') {
            word += c;
            continue;
        }
        if (i >= text.size())
            return false;
        char e = text[i++];
        if (e == '"' || e == '\\')
            word += e;
        else if (e == 'n')
            word += '\n';
        else if (e == 'r')
            word += '\r';
        else if (e == 't')
            word += '\t';
        else if (e == 'x' && i + 1 < text.size() && hex_value(text[i]) >= 0 && hex_value(text[i + 1]) >= 0) {
            int v = hex_value(text[i]) * 16 + hex_value(text[i + 1]);
            if (v == 0)
                return false; // a symbol's name cannot hold a NUL
            word += (char)v;
            i += 2;
        } else {
            return false;
        }
    }
    return false;
}

bool word_atom(const std::string &w, t_atom &a)
{
    bool nan = w == "nan" || w == "-nan";
    if (nan || w == "inf" || w == "-inf") {
        a = zero_atom(A_FLOAT);
        float v = nan ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
        a.a_w.w_float = w[0] == '-' ? -v : v;
        return true;
    }
    switch (type(w, &a)) {
    case WORD_OUT_OF_RANGE:
        return false;
    case WORD_SYMBOL:
        a = zero_atom(A_SYM);
        a.a_w.w_sym = gensym(w.c_str());
        return true;
    default:
        return true;
    }
}

} // namespace

std::string text(t_binbuf *b)
{
    std::string s;
    bool line_open = false;
    for (const t_atom &a : atoms(b)) {
        if (a.a_type == A_SEMI) {
            s += ";\n";
            line_open = false;
            continue;
        }
        if (line_open)
            s += ' ';
        line_open = true;
        if (a.a_type == A_LONG)
            s += std::to_string(a.a_w.w_long);
        else if (a.a_type == A_FLOAT)
            s += float_text(a.a_w.w_float);
        else
            s += symbol_text(a.a_w.w_sym ? a.a_w.w_sym->s_name : "");
    }
    if (line_open)
        s += '\n';
    return s;
}

bool parse(const std::string &text, std::vector<t_atom> &out)
{
    std::vector<t_atom> result;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (is_blank(c)) {
            i++;
        } else if (c == ';') {
            result.push_back(zero_atom(A_SEMI));
            i++;
        } else if (c == '"') {
            std::string w;
            if (!read_quoted(text, i, w))
                return false;
            if (i < text.size() && !is_blank(text[i]) && text[i] != ';')
                return false; // a quoted word glued to another
            t_atom a = zero_atom(A_SYM);
            a.a_w.w_sym = gensym(w.c_str());
            result.push_back(a);
        } else {
            size_t start = i;
            while (i < text.size() && !is_blank(text[i]) && text[i] != ';' && text[i] != '"')
                i++;
            if (i < text.size() && text[i] == '"')
                return false; // a quote inside a word
            std::string w = text.substr(start, i - start);
            if (w.find('\0') != std::string::npos)
                return false;
            t_atom a;
            if (!word_atom(w, a))
                return false;
            result.push_back(a);
        }
    }
    out.swap(result);
    return true;
}

} // namespace store
