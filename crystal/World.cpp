// Creation and destruction of the scene content, in a fixed order, and the
// hand-over of microphone blocks into the recording buffer.
#include "crystal/World.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "crystal/CrystalCluster.h"
#include "render/RenderDevice.h"
#include "render/ScreenFade.h"
#include "common/StartStep.h"
#include "common/WorldHost.h"
#include "scenery/CopyrightOverlay.h"
#include "scenery/Ground.h"
#include "scenery/LightSet.h"
#include "scenery/LogoMesh.h"
#include "scenery/TitleOverlay.h"
#include "sound/MusicSegment.h"
#include "sound/RecordingList.h"
#include "sound/SpectrumAnalyser.h"
#include "sound/VoiceStore.h"

World::World() = default;

World::~World() { Shutdown(); }

std::string World::DataPath(const char* fileName) const
{
    if (dataDir.empty()) return fileName;
    return dataDir + "/" + fileName;
}

bool World::Fail(std::string reason)
{
    lastError = std::move(reason);
    return false;
}

bool World::LoadFailure(const std::string& path, bool pictureRead)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return Fail("missing data file \"" + path + "\"");
    if (!pictureRead) return Fail("cannot read data file \"" + path + "\" (not a usable picture)");
    return Fail("cannot create the sprite for \"" + path + "\"");
}

bool World::Init(WorldHost* host, int width, int height)
{
    lastError.clear();
    application = host;
    if (application == nullptr) return Fail("no application to build the world for");
    dataDir = application->DataFolder();
    RenderDevice& renderer = application->Renderer();
    IDirect3DDevice9* device = renderer.Device();
    if (device == nullptr) return Fail("no graphics device to build the world on");
    screenWidth = width;
    screenHeight = height;

    lights = std::make_unique<LightSet>();
    if (!lights->Create(device, dataDir)) {
        const std::string first = DataPath("light1.bmp");
        std::error_code error;
        return LoadFailure(std::filesystem::exists(first, error) ? DataPath("light2.bmp") : first, false);
    }

    // Nothing draws the ground, so its picture may be missing.
    ground = std::make_unique<Ground>();
    ground->Create(device, dataDir);

    recordingList = std::make_unique<RecordingList>();

    analyser = std::make_unique<SpectrumAnalyser>();
    if (!RunStartStep([&] { return analyser->Init(1 << 12); }))
        return Fail("out of memory for the spectrum analyser");

    crystals = std::make_unique<CrystalCluster>();
    if (!crystals->Create(this, device)) {
        const std::string sphereMap = DataPath("spheremap.bmp");
        return LoadFailure(sphereMap, false);
    }

    segment = std::make_unique<MusicSegment>();  // nothing loaded yet
    voiceStore = std::make_unique<VoiceStore>(VoiceStore::DefaultPaths(dataDir));

    const std::string titlePath = DataPath("title.png");
    title = std::make_unique<TitleOverlay>();
    if (!title->Load(&renderer, width, height, titlePath))
        return LoadFailure(titlePath, title->HasPicture());

    const std::string logoPath = DataPath("logo.x");
    logo = std::make_unique<LogoMesh>();
    if (!logo->LoadLogo(device, dataDir)) {
        std::error_code error;
        if (!std::filesystem::exists(logoPath, error)) return Fail("missing data file \"" + logoPath + "\"");
        return Fail("cannot read data file \"" + logoPath + "\" (not a usable .x mesh)");
    }

    const std::string copyrightPath = DataPath("CopyRight.png");
    copyright = std::make_unique<CopyrightOverlay>();
    if (!copyright->Load(&renderer, width, height, copyrightPath))
        return LoadFailure(copyrightPath, copyright->HasPicture());

    IDirect3DSurface9* backBuffer = renderer.BackBuffer();
    HDC deviceContext = nullptr;
    if (backBuffer == nullptr || FAILED(backBuffer->GetDC(&deviceContext)))
        return Fail("cannot get a device context of the back buffer");
    fade = std::make_unique<ScreenFade>();
    const bool faded = fade->Init(deviceContext, device, width, height);
    // Given back whatever the fade made of it.
    backBuffer->ReleaseDC(deviceContext);
    if (!faded) return Fail("cannot set up the screen fade");
    return true;
}

void World::Shutdown()
{
    lights.reset();
    ground.reset();
    recordingList.reset();
    analyser.reset();
    crystals.reset();
    segment.reset();  // unloads the stored voice
    title.reset();
    logo.reset();
    fade.reset();
    copyright.reset();
}

void World::StoreBlock(const void* bytes, std::uint32_t length)
{
    if (bytes == nullptr) return;
    // NOTE: a header announcing more than one block is cut to one block, so
    // the silent second half of the buffer is never overwritten and the
    // length never promises more than was copied.
    const std::uint32_t copied = std::min<std::uint32_t>(length, kBlockBytes);
    std::memcpy(recordingBuffer, bytes, copied);
    recordedLength = copied;
    ++blockSerial;
    // NOTE: steps come a little more than 50 ms apart, blocks exactly every
    // 50 ms, so now and then two blocks arrive between steps and the first is
    // never seen by a crystal. It is still part of the voice being recorded:
    // keep it here. The crystals offer the block too; the list keeps it once.
    if (recordingList != nullptr && AnyCrystalRecording()) recordingList->AppendBlock(recordingBuffer, blockSerial);
}

bool World::AnyCrystalRecording() const
{
    if (crystals == nullptr) return false;
    for (const auto& crystal : crystals->crystals)
        if (crystal != nullptr && crystal->phase == Recording) return true;
    return false;
}

bool World::StoreVoice()
{
    if (segment == nullptr || recordingList == nullptr || voiceStore == nullptr) return true;
    return voiceStore->Store(*recordingList, segment, application != nullptr ? application->GetMusicPlayer() : nullptr);
}

World& TheWorld()
{
    static World world;
    return world;
}
