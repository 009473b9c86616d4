// The container of everything the scene shows: crystals, lights, ground,
// logo, the title and copyright pictures, the white screen fade, the
// spectrum analyser, the stored voice, and the buffer that receives every
// microphone block. One per process, made on first use by TheWorld(), filled
// by Init, emptied by Shutdown (at teardown and once more at exit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "common/Level.h"
#include "common/NonCopyable.h"
#include "platform/system/win32types.h"

class WorldHost;
class LightSet;
class RecordingList;
class SpectrumAnalyser;
class CrystalCluster;
class TitleOverlay;
class CopyrightOverlay;
class ScreenFade;
class Ground;
class LogoMesh;
class MusicSegment;
class VoiceStore;
struct StoredVoiceInfo;

class World : NonCopyable {
public:
    static constexpr std::size_t kRecordingSamples = 16000;
    // A microphone block fills the first half; the second half stays silent.
    static constexpr std::uint32_t kBlockBytes = 16000;

    World();
    ~World();

    // Builds the scene content for a screen of width x height. False on the
    // first failure, with the reason in LastError(); what was built so far
    // stays for Shutdown.
    bool Init(WorldHost* application, int width, int height);
    // Deletes every content object that exists; safe at any time, any number of times.
    void Shutdown();

    // Copies one finished microphone block (its length in bytes) into the
    // recording buffer and records that length. At most 16000 bytes are
    // taken, so the second half of the buffer never changes.
    void StoreBlock(const void* bytes, std::uint32_t length);

    // Hands the recording list to the voice store, which writes
    // "memory.wav" (the data folder, else the user data folder, else the
    // temporary folder) on its own thread; the step goes on at once. Called
    // by each crystal when it stops recording; an unchanged list is not
    // written again. False only when there is nothing to store into.
    bool StoreVoice();
    // Loop thread, once per step: when the store's thread has finished a
    // voice, it becomes the new segment (the hand-off of finished work).
    void CollectStoredVoice();
    // Waits for a store in progress and collects it (shutdown, tests). True
    // when the last stored voice is loaded.
    bool FinishVoiceStore();
    // The last voice written, for the health report; null before the first.
    const StoredVoiceInfo* LastStoredVoice() const;

    // The largest sample of the latest block: every listening crystal asks
    // each step, so the block is scanned once, when it is first asked for.
    int LatestPeak() const;

    // The logical screen size given to Init (640 x 480).
    int LogicalWidth() const { return screenWidth; }
    int LogicalHeight() const { return screenHeight; }

    // Why the last Init failed, naming the file or device; empty otherwise.
    const std::string& LastError() const { return lastError; }
    // The path of a data file under the configured data folder.
    std::string DataPath(const char* fileName) const;

    WorldHost* application = nullptr;
    std::unique_ptr<CrystalCluster> crystals;
    std::unique_ptr<LightSet> lights;
    std::unique_ptr<SpectrumAnalyser> analyser;
    // Slots in the order the content is created: lights, ground, recording
    // list, analyser, crystals and segment come first; see Init.
    std::unique_ptr<Ground> ground;
    // The blocks recorded while crystals grow: every recording crystal offers
    // each new block with AppendBlock(recordingBuffer, blockSerial), and the
    // list keeps it once; Crystal::Reset frees them with FreeAll.
    std::unique_ptr<RecordingList> recordingList;
    std::unique_ptr<MusicSegment> segment;  // the stored voice
    std::unique_ptr<TitleOverlay> title;
    std::unique_ptr<ScreenFade> fade;
    std::unique_ptr<LogoMesh> logo;  // between title and copyright in creation order
    std::unique_ptr<CopyrightOverlay> copyright;
    std::uint32_t recordedLength = 0;
    // Counts the blocks stored, so that a block offered by every recording
    // crystal is kept once.
    std::uint32_t blockSerial = 0;
    // The block peak above which a block is loud: the operator's setting,
    // handed down by the program (4000 unless tuned for the room).
    int loudThreshold = level::kDefaultThreshold;
    std::int16_t recordingBuffer[kRecordingSamples] = {};

private:
    bool Fail(std::string reason);
    bool AnyCrystalRecording() const;
    bool PictureFailure(std::initializer_list<std::string> paths, const std::string& what);

    std::unique_ptr<VoiceStore> voiceStore;
    mutable std::uint32_t peakSerial_ = 0;  // the blockSerial latestPeak_ belongs to
    mutable int latestPeak_ = 0;            // BlockPeak of the silent buffer
    std::string dataDir = "data";
    std::string lastError;
    int screenWidth = 640;
    int screenHeight = 480;
};

// The process-wide world, made on first use and destroyed at exit.
World& TheWorld();
