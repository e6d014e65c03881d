// loopmass: runs scores for the loopmass~ object.
#include "cli.h"

int main(int argc, char **argv)
{
    return score::command_line(argc, argv);
}
