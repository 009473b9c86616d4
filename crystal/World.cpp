// Creation and destruction of the scene content, in a fixed order, and the
// hand-over of microphone blocks into the recording buffer.
#include "crystal/World.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/InstalledData.h"
#include "common/Log.h"
#include "common/StartStep.h"
#include "crystal/CrystalCluster.h"
#include "crystal/WorldHost.h"
#include "platform/d3d9/d3dx9mesh.h"
#include "platform/files/ImageFile.h"
#include "render/RenderDevice.h"
#include "render/ScreenFade.h"
#include "scenery/CopyrightOverlay.h"
#include "scenery/Ground.h"
#include "scenery/LightSet.h"
#include "scenery/LogoMesh.h"
#include "scenery/TitleOverlay.h"
#include "sound/Loudness.h"
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

bool World::PictureFailure(std::initializer_list<std::string> paths, const std::string& what)
{
    // The loaders say nothing; the first file of the object that does not
    // read is named here, once, with the reason.
    for (const std::string& path : paths) {
        std::string why;
        if (platform::CheckImageFile(path, &why)) continue;
        if (why == "missing") return Fail("missing data file \"" + path + "\"");
        return Fail("cannot read data file \"" + path + "\": " + why);
    }
    return Fail("cannot create " + what);
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
    if (!lights->Create(device, dataDir))
        return PictureFailure({DataPath("light1.bmp"), DataPath("light2.bmp")}, "the light sparks");

    // Nothing draws the ground, so its picture may be missing or broken: a
    // notice, not a failed start.
    ground = std::make_unique<Ground>();
    if (!ground->Create(device, dataDir)) {
        std::string why;
        const std::string groundPath = DataPath("ground.bmp");
        if (!platform::CheckImageFile(groundPath, &why) && why != "missing")
            LogWarning("world", "data file \"%s\" not used: %s", groundPath.c_str(), why.c_str());
    }

    recordingList = std::make_unique<RecordingList>();

    analyser = std::make_unique<SpectrumAnalyser>();
    if (!RunStartStep([&] { return analyser->Init(1 << 12); }))
        return Fail("out of memory for the spectrum analyser");

    crystals = std::make_unique<CrystalCluster>();
    if (!crystals->Create(this, device)) return PictureFailure({DataPath("spheremap.bmp")}, "the crystals");

    segment = std::make_unique<MusicSegment>();  // nothing loaded yet
    // The installed data folder is left out of the list, so the first place
    // is then the user's folder, which is made when missing.
    voiceStore = std::make_unique<VoiceStore>(VoiceStore::DefaultPaths(dataDir), IsInstalledDataFolder(dataDir) ? 0 : 1);

    const std::string titlePath = DataPath("title.png");
    title = std::make_unique<TitleOverlay>();
    if (!title->Load(&renderer, width, height, titlePath))
        return PictureFailure({titlePath}, "the sprite for \"" + titlePath + "\"");

    const std::string logoPath = DataPath("logo.x");
    logo = std::make_unique<LogoMesh>();
    if (!logo->LoadLogo(device, dataDir)) {
        std::error_code error;
        if (!std::filesystem::exists(logoPath, error)) return Fail("missing data file \"" + logoPath + "\"");
        // The mesh loader is silent; ask it again for the reason.
        std::string why = "not a usable .x mesh";
        ID3DXMesh* mesh = nullptr;
        if (SUCCEEDED(platform::LoadMeshFromX(logoPath.c_str(), D3DXMESH_SYSTEMMEM, nullptr, nullptr, nullptr, nullptr,
                                              &mesh, &why)) &&
            mesh != nullptr) {
            mesh->Release();
            why = "not a usable .x mesh";
        }
        return Fail("cannot read data file \"" + logoPath + "\": " + why);
    }

    const std::string copyrightPath = DataPath("CopyRight.png");
    copyright = std::make_unique<CopyrightOverlay>();
    if (!copyright->Load(&renderer, width, height, copyrightPath))
        return PictureFailure({copyrightPath}, "the sprite for \"" + copyrightPath + "\"");

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
    // A store in progress finishes first: its blocks and file stay whole.
    if (voiceStore != nullptr && segment != nullptr) FinishVoiceStore();
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

int World::LatestPeak() const
{
    if (peakSerial_ != blockSerial) {
        latestPeak_ = BlockPeak(recordingBuffer);
        peakSerial_ = blockSerial;
    }
    return latestPeak_;
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
    CollectStoredVoice();
    voiceStore->Begin(*recordingList, segment);
    return true;
}

void World::CollectStoredVoice()
{
    if (voiceStore == nullptr || segment == nullptr) return;
    voiceStore->Collect(segment, application != nullptr ? application->GetMusicPlayer() : nullptr);
}

bool World::FinishVoiceStore()
{
    if (voiceStore == nullptr || segment == nullptr) return false;
    voiceStore->Finish(segment, application != nullptr ? application->GetMusicPlayer() : nullptr);
    return voiceStore->LastLoad();
}

const StoredVoiceInfo* World::LastStoredVoice() const
{
    if (voiceStore == nullptr || !voiceStore->LastStored().has_value()) return nullptr;
    return &*voiceStore->LastStored();
}

World& TheWorld()
{
    static World world;
    return world;
}
