#include "host/Entry.h"

int main(int argc, char** argv) { return steward::steward_main(argc, argv); }
