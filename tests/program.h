// Test support for the loopmass command line, run as a program on small
// scores in a temporary folder: the fixture that runs it, its transcript
// split into lines, and the files it writes read back.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace test::cli {

namespace fs = std::filesystem;

struct Line {
    std::string time;
    std::string channel;
    std::string payload;
};

struct Result {
    int status; // exit status, or 128 + signal when the program was killed
    std::string out;
    std::string err;
    std::vector<Line> lines;

    std::vector<Line> channel(const std::string &name) const
    {
        std::vector<Line> v;
        for (const Line &l : lines)
            if (l.channel == name)
                v.push_back(l);
        return v;
    }
    std::vector<std::string> times(const std::string &name) const
    {
        std::vector<std::string> v;
        for (const Line &l : channel(name))
            v.push_back(l.time);
        return v;
    }
};

inline std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> v;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep))
        v.push_back(part);
    return v;
}

// FNV-1a, 64 bits: a fingerprint of a file's bytes.
inline uint64_t fingerprint(const std::string &bytes)
{
    uint64_t h = 0xcbf29ce484222325u;
    for (unsigned char c : bytes)
        h = (h ^ c) * 0x100000001b3u;
    return h;
}

inline std::string read_file(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A sound file as libsndfile reads it: its header, and its samples as
// floats and as whole numbers left-justified in 32 bits.
struct Sound {
    SF_INFO info{};
    std::vector<float> floats;
    std::vector<int> ints;
};

inline bool read_sound(const fs::path &p, Sound &s)
{
    SNDFILE *f = sf_open(p.c_str(), SFM_READ, &s.info);
    if (!f)
        return false;
    s.floats.resize((size_t)s.info.frames);
    s.ints.resize((size_t)s.info.frames);
    bool whole = sf_readf_float(f, s.floats.data(), s.info.frames) == s.info.frames;
    sf_seek(f, 0, SEEK_SET);
    whole = whole && sf_readf_int(f, s.ints.data(), s.info.frames) == s.info.frames;
    sf_close(f);
    return whole;
}

// The pitch of a sound at `rate` Hz, from its rising zero crossings.
inline double pitch_of(const std::vector<float> &s, int rate)
{
    std::vector<double> at;
    for (size_t i = 1; i < s.size(); i++)
        if (s[i - 1] < 0 && s[i] >= 0)
            at.push_back((double)(i - 1) + s[i - 1] / (double)(s[i - 1] - s[i]));
    if (at.size() < 2)
        return 0;
    return (double)(at.size() - 1) / (at.back() - at.front()) * rate;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/loopmass_cli_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs `loopmass ARGS` in the temporary folder, with the environment
    // assignments `env` ("NAME=VALUE ...") before it.
    Result program(const std::string &args, const std::string &input_redirect = "", const std::string &env = "")
    {
        std::string cmd = "cd '" + dir_.string() + "' && " + env + " '" LOOPMASS_BINARY "' " + args +
                          " >stdout.txt 2>stderr.txt" + input_redirect;
        int w = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(w) ? WEXITSTATUS(w) : 128 + (WIFSIGNALED(w) ? WTERMSIG(w) : 0);
        r.out = read_file(dir_ / "stdout.txt");
        r.err = read_file(dir_ / "stderr.txt");
        fs::remove(dir_ / "stdout.txt");
        fs::remove(dir_ / "stderr.txt");
        for (const std::string &l : split(r.out, '\n')) {
            std::vector<std::string> f = split(l, '\t');
            f.resize(3);
            r.lines.push_back(Line{f[0], f[1], f[2]});
        }
        return r;
    }

    // Writes the score to score.txt and runs it (from standard input when
    // `piped`).
    Result run(const std::string &score, const std::string &options = "", bool piped = false,
               const std::string &env = "")
    {
        std::ofstream(dir_ / "score.txt", std::ios::binary) << score;
        Result r =
            piped ? program("run - " + options, " <score.txt", env) : program("run score.txt " + options, "", env);
        static const std::regex form("[0-9]+\\.[0-9]{3}\t(post|error|out1|out2|assist|print)\t.*");
        for (const std::string &l : split(r.out, '\n'))
            EXPECT_TRUE(std::regex_match(l, form)) << "transcript line: " << l;
        return r;
    }

    std::set<std::string> files()
    {
        std::set<std::string> names;
        for (const fs::directory_entry &e : fs::directory_iterator(dir_))
            names.insert(e.path().filename().string());
        return names;
    }

    fs::path dir_;
};

} // namespace test::cli
