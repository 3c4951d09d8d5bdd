// qzm480-make-icns: packs PNG pictures into one ICNS icon file.
//
//   qzm480-make-icns <out.icns> <size>=<picture.png> ...
//
// Each picture becomes the PNG-carrying element of its size (16, 32, 64,
// 128, 256, 512 or 1024 pixels square). The file is the "icns" header with
// the total length, then one element per picture: its four-character type,
// its length (header included) and the PNG data, lengths big-endian.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The element type that carries a PNG of the given size, or empty.
std::string_view ElementType(int size) {
    switch (size) {
        case 16:
            return "icp4";
        case 32:
            return "icp5";
        case 64:
            return "icp6";
        case 128:
            return "ic07";
        case 256:
            return "ic08";
        case 512:
            return "ic09";
        case 1024:
            return "ic10";
        default:
            return {};
    }
}

void AppendBE32(std::vector<char>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

bool ReadFile(const std::string& path, std::vector<char>& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <out.icns> <size>=<picture.png> ...\n", argv[0]);
        return 2;
    }
    std::vector<char> body;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto equals = argument.find('=');
        const int size =
            equals == std::string::npos ? 0 : std::atoi(argument.substr(0, equals).c_str());
        const std::string_view type = ElementType(size);
        if (type.empty()) {
            std::fprintf(stderr, "%s: no icon element for '%s'\n", argv[0], argv[i]);
            return 2;
        }
        std::vector<char> png;
        if (!ReadFile(argument.substr(equals + 1), png) || png.size() < 8 ||
            std::string_view(png.data(), 8) != std::string_view(kPngSignature, 8)) {
            std::fprintf(stderr, "%s: not a PNG picture: %s\n", argv[0], argv[i]);
            return 1;
        }
        body.insert(body.end(), type.begin(), type.end());
        AppendBE32(body, static_cast<uint32_t>(png.size() + 8));
        body.insert(body.end(), png.begin(), png.end());
    }
    std::vector<char> file{'i', 'c', 'n', 's'};
    AppendBE32(file, static_cast<uint32_t>(body.size() + 8));
    file.insert(file.end(), body.begin(), body.end());

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
