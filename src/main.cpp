#include "CommandLine.h"

int main(int argc, char** argv)
{
    return aquilevel::runProgram(argc, argv);
}
