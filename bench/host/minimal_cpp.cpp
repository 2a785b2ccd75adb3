// The yardstick: a C++ program that loads the C++ runtime and does nothing.
#include <string>

int main(int argc, char**) {
  std::string text(static_cast<std::size_t>(argc), 'x');
  return text.size() == static_cast<std::size_t>(argc) ? 0 : 1;
}
