// solvane-datagen OUTDIR: writes the installation's data files (pictures,
// lights, sphere map, ground and the logo mesh with its texture) into
// OUTDIR. The files in the repository's data/ folder are its output; a test
// checks that a fresh run reproduces them byte for byte.
#include <cstdio>
#include <string>

#include "tools/datagen/Artwork.h"
#include "tools/datagen/LogoModel.h"

namespace {

bool WriteText(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

bool Report(bool ok, const std::string& path)
{
    if (!ok) std::fprintf(stderr, "solvane-datagen: cannot write %s\n", path.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: solvane-datagen OUTDIR\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    bool ok = true;
    ok = Report(datagen::MakeTitle().WritePng(dir + "title.png"), dir + "title.png") && ok;
    ok = Report(datagen::MakeCopyright().WritePng(dir + "CopyRight.png"), dir + "CopyRight.png") && ok;
    ok = Report(datagen::MakeSphereMap().WriteBmp(dir + "spheremap.bmp"), dir + "spheremap.bmp") && ok;
    ok = Report(datagen::MakeWarmLight().WriteBmp(dir + "light1.bmp"), dir + "light1.bmp") && ok;
    ok = Report(datagen::MakeCoolLight().WriteBmp(dir + "light2.bmp"), dir + "light2.bmp") && ok;
    ok = Report(datagen::MakeGround().WriteBmp(dir + "ground.bmp"), dir + "ground.bmp") && ok;
    ok = Report(datagen::MakeLogoTexture().WriteBmp(dir + "logo.bmp"), dir + "logo.bmp") && ok;
    ok = Report(WriteText(dir + "logo.x", datagen::MakeLogoXFile("logo.bmp")), dir + "logo.x") && ok;
    return ok ? 0 : 1;
}
