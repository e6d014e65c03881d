// Symbols and the message store, with its cursor units and its text form.

#include "store.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "writer.h"

namespace patcher {

// A store is the sequence of its atoms; a message end is an A_SEMI atom.
struct t_binbuf {
    std::vector<t_atom> b_atoms;
};

t_symbol *gensym(const char *name)
{
    // Symbols are never freed: their names live in the table's keys, whose
    // addresses do not move when the table grows.  A plugin host builds
    // objects and reads files on several threads at once, so the table is
    // locked; an audio thread interns its symbols beforehand and never
    // comes here.
    static std::unordered_map<std::string, std::unique_ptr<t_symbol>> table;
    static std::mutex lock;
    if (!name)
        name = "";
    std::lock_guard<std::mutex> guard(lock);
    auto it = table.find(name);
    if (it == table.end()) {
        it = table.emplace(name, nullptr).first;
        it->second.reset(new t_symbol{it->first.c_str()});
    }
    return it->second.get();
}

t_binbuf *binbuf_new(void) { return new t_binbuf; }

void freeobject(t_binbuf *b) { delete b; }

static t_atom make_atom(short type)
{
    t_atom a;
    std::memset(&a, 0, sizeof a);
    a.a_type = type;
    return a;
}

static int32_t saturate_long(long v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return (int32_t)v;
}

void binbuf_vinsert(t_binbuf *b, const char *fmt, ...)
{
    if (!b || !fmt)
        return;
    va_list ap;
    va_start(ap, fmt);
    for (const char *p = fmt; *p; p++) {
        t_atom a;
        if (*p == 'l') {
            a = make_atom(A_LONG);
            a.a_w.w_long = saturate_long(va_arg(ap, long));
        } else if (*p == 'f') {
            a = make_atom(A_FLOAT);
            a.a_w.w_float = (float)va_arg(ap, double);
        } else if (*p == 's') {
            a = make_atom(A_SYM);
            t_symbol *s = va_arg(ap, t_symbol *);
            a.a_w.w_sym = s ? s : gensym("");
        } else {
            // The type of the remaining arguments is unknown: stop here.
            std::fprintf(stderr, "binbuf_vinsert: unknown format letter '%c'\n", *p);
            break;
        }
        b->b_atoms.push_back(a);
    }
    va_end(ap);
    b->b_atoms.push_back(make_atom(A_SEMI));
}

void binbuf_insert(t_binbuf *b, t_symbol *s, short argc, t_atom *argv)
{
    if (!b)
        return;
    if (s) {
        t_atom a = make_atom(A_SYM);
        a.a_w.w_sym = s;
        b->b_atoms.push_back(a);
    }
    for (short i = 0; argv && i < argc; i++) {
        t_atom a = argv[i];
        if (a.a_type == A_SYM && !a.a_w.w_sym)
            a.a_w.w_sym = gensym("");
        // Only atoms the store can write and read back are kept.
        if (a.a_type == A_LONG || a.a_type == A_FLOAT || a.a_type == A_SYM || a.a_type == A_SEMI)
            b->b_atoms.push_back(a);
    }
    b->b_atoms.push_back(make_atom(A_SEMI));
}

short binbuf_getatom(t_binbuf *b, long *p1, long *p2, t_atom *ap)
{
    if (!b || !p1 || !p2 || !ap || *p1 < 0 || (unsigned long)*p1 >= b->b_atoms.size())
        return 1;
    const t_atom &a = b->b_atoms[(size_t)*p1];
    long bytes = a.a_type == A_FLOAT ? 8 : a.a_type == A_SEMI ? 0 : 4;
    if (*p2 > LONG_MAX - bytes)
        return 1;
    *ap = a;
    *p1 += 1;
    *p2 += bytes;
    return 0;
}

} // namespace patcher

namespace store {

using namespace patcher;

const size_t MAX_FILE_BYTES = 64u << 20;

std::vector<t_atom> atoms(t_binbuf *b) { return b ? b->b_atoms : std::vector<t_atom>(); }

std::string float_text(float f)
{
    if (std::isnan(f))
        return std::signbit(f) ? "-nan" : "nan";
    if (std::isinf(f))
        return f < 0 ? "-inf" : "inf";
    char buf[64];
    std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, f);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".eE") == std::string::npos)
        s += ".0";
    return s;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Skips digits from i; returns how many.
size_t digits(const std::string &w, size_t &i)
{
    size_t start = i;
    while (i < w.size() && is_digit(w[i]))
        i++;
    return i - start;
}

} // namespace

e_word classify(const std::string &w)
{
    size_t i = 0;
    if (i < w.size() && (w[i] == '+' || w[i] == '-'))
        i++;
    size_t intdigits = digits(w, i);
    bool point = false, exponent = false;
    size_t fracdigits = 0;
    if (i < w.size() && w[i] == '.') {
        point = true;
        i++;
        fracdigits = digits(w, i);
    }
    if (intdigits == 0 && fracdigits == 0)
        return WORD_SYMBOL;
    if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
        exponent = true;
        i++;
        if (i < w.size() && (w[i] == '+' || w[i] == '-'))
            i++;
        if (digits(w, i) == 0)
            return WORD_SYMBOL;
    }
    if (i != w.size())
        return WORD_SYMBOL;
    return point || exponent ? WORD_FLOAT : WORD_LONG;
}

bool long_value(const std::string &w, int32_t *v)
{
    errno = 0;
    long long n = std::strtoll(w.c_str(), nullptr, 10);
    if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX)
        return false;
    *v = (int32_t)n;
    return true;
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

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

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
    if (is_digit(c))
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
    switch (text_classify(w)) {
    case WORD_LONG:
        a = make_atom(A_LONG);
        return long_value(w, &a.a_w.w_long);
    case WORD_FLOAT: {
        a = make_atom(A_FLOAT);
        if (w == "nan" || w == "-nan") {
            float nan = std::numeric_limits<float>::quiet_NaN();
            a.a_w.w_float = w[0] == '-' ? -nan : nan;
        } else if (w == "inf" || w == "-inf") {
            float inf = std::numeric_limits<float>::infinity();
            a.a_w.w_float = w[0] == '-' ? -inf : inf;
        } else {
            // strtof rounds the text once, straight to the nearest float,
            // and gives +-inf beyond the float range.
            a.a_w.w_float = std::strtof(w.c_str(), nullptr);
        }
        return true;
    }
    default:
        a = make_atom(A_SYM);
        a.a_w.w_sym = gensym(w.c_str());
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
            result.push_back(make_atom(A_SEMI));
            i++;
        } else if (c == '"') {
            std::string w;
            if (!read_quoted(text, i, w))
                return false;
            if (i < text.size() && !is_blank(text[i]) && text[i] != ';')
                return false; // a quoted word glued to another
            t_atom a = make_atom(A_SYM);
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

short read_file(t_binbuf *b, const std::string &path)
{
    if (!b)
        return 1;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (unsigned long long)st.st_size > MAX_FILE_BYTES) {
        ::close(fd);
        return 1;
    }
    // Read one byte more than allowed, in case the file grew since fstat.
    std::string content;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || content.size() + (size_t)n > MAX_FILE_BYTES) {
            ::close(fd);
            return 1;
        }
        if (n == 0)
            break;
        content.append(buf, (size_t)n);
    }
    ::close(fd);
    return read_text(b, content);
}

short read_text(t_binbuf *b, const std::string &text)
{
    if (!b || text.size() > MAX_FILE_BYTES)
        return 1;
    for (unsigned char c : text)
        if (is_control(c) && c != '\t' && c != '\r' && c != '\n')
            return 1;
    std::vector<t_atom> parsed;
    if (!parse(text, parsed))
        return 1;
    b->b_atoms.swap(parsed);
    return 0;
}

short write_file(t_binbuf *b, const std::string &path)
{
    std::string error;
    return b && writer::write_whole(path, text(b), error) ? 0 : 1;
}

} // namespace store
