// mkprc PLAIN OUT: writes OUT as a scrambled container holding the bytes of PLAIN.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "prc/container.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    (void)std::fprintf(stderr, "usage: mkprc PLAIN OUT\n");
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> plain((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad() || plain.size() > prc::kMaxPayloadLength) {
    (void)std::fprintf(stderr, "mkprc: cannot read %s, or it is too long\n", argv[1]);
    return 1;
  }
  const auto length = static_cast<std::uint32_t>(plain.size());
  // One spare byte: an odd payload's last pair reaches one past it.
  std::vector<std::uint8_t> buffer(prc::kHeaderSize + plain.size() + 1);
  for (std::size_t i = 0; i < prc::kHeaderSize; ++i) {
    buffer[i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
  std::copy(plain.begin(), plain.end(), buffer.begin() + prc::kHeaderSize);
  const std::size_t size = prc::kHeaderSize + plain.size();
  prc::Scramble(buffer.data(), size, prc::ReadHeader(buffer.data()).key);
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    (void)std::fprintf(stderr, "mkprc: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
