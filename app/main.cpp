// tavrec: the recorder program.
#include "app/Startup.h"

int main(int argc, char** argv)
{
    return RunTavrec(argc, argv);
}
