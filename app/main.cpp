#include "app/program.h"

int main(int argc, char** argv) {
  return zfuse::runProgram(argc, argv);
}
