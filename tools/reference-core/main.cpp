#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char* argv[]) {
  if (argc < 2 || std::strcmp(argv[1], "serve-desktop") != 0) {
    std::fprintf(stderr, "usage: zorvel-runner serve-desktop --data-dir DIR --port N --parent-pid PID --auth-control\n");
    return 2;
  }
  return 0;
}
