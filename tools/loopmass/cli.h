// The loopmass command line: loopmass run SCORE [-o OUT.wav] [--seed S]
// [--vs N] [--quiet] [--picture FILE.png] [--rate HZ] [--format NAME],
// loopmass simd, loopmass --help and loopmass --version.
#pragma once

namespace score {

// Returns the exit status: 0 when the score ran to its end, 1 when its
// output could not be written, 2 for a usage error or a score that cannot
// be parsed (nothing is run then).
int command_line(int argc, char **argv);

} // namespace score
