// Program entry of 5926 Data Collect.
#include "Program.h"

int main(int argc, char** argv)
{
    return ProgramMain(argc, argv);
}
