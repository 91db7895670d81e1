#include "app/run.h"

int main(int argc, char** argv) { return run_trackcarve(argc, argv); }
