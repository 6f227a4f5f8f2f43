#include <cstdio>

int main() {
  std::fputs("zgl: the creation run is not built yet\n", stderr);
  return 1;
}
