#include "app/run.h"

int main(int argc, char** argv)
{
    console c;
    return run_trackcarve(c, argc, argv);
}
