#pragma once

// A scriptable music platform for tests.
//
//   platform::music::fake::FakeMusicSystem system;
//   auto& midiIn = system.AddPort("MIDI In", DMUS_PC_INPUTCLASS);
//   auto& synth = system.AddPort("Synth", DMUS_PC_OUTPUTCLASS).Flags(DMUS_PC_DLS);
//   synth.FailOn("Activate", DSERR_NODRIVER);     // Activate(TRUE) on this port fails
//   system.FailOn("CreateMusic", E_FAIL);         // system-level operations fail likewise
//   ... drive the code under test with `system` as its IMusicSystem ...
//   EXPECT_EQ(synth.Played(), (std::vector<DWORD>{0x007F3C90}));
//   EXPECT_THAT(system.Log(), ...);
//
// Ports are listed by every music object the system creates, in the order they were added.
// Every call is appended to one log shared by the system, its music objects, ports, clocks
// and buffers, as one string per call:
//   "CreateMusic", "SetDirectSound", "EnumPort(<index>)", "CreatePort(<name>)",
//   "CreateMusicBuffer(<bytes>)", "Activate(<name>,<0|1>)", "GetCaps(<name>)",
//   "GetLatencyClock(<name>)", "GetTime", "PackStructured(<group>,0x<msg, 8 hex digits>)",
//   "PackUnstructured(<group>,<length>)", "PlayBuffer(<name>)", "Flush",
//   "QueryKsControl(<name>)", "QueryPortDownload(<name>)",
//   "KsProperty(<name>,<Effects|other>,<id>,<flags>,<first 4 data bytes as a number>)",
//   "Compact(<name>)", "GetChannelPriority(<name>,<group>,<channel>)",
//   "SetChannelPriority(<name>,<group>,<channel>,<priority>)", "GetRunningStats(<name>)",
//   "GetFormat(<name>)", "GetNumChannelGroups(<name>)", "SetNumChannelGroups(<name>,<count>)",
//   "ReleasePort(<name>)" (the opened port object is destroyed),
//   input ports: "QueryMidiInput(<name>)", "QueryThru(<name>)",
//   "SetReadNotificationHandle(<name>,<0|1>)", "Read(<name>)",
//   "ThruChannel(<name>,<src group>,<src channel>,<dst group>,<dst channel>,<dst name|null>)",
//   output ports: "QueryMidiSink(<name>)",
//   loader and collections: "CreateLoader", "GetCollection(default|file:<path>|memory:<bytes>)",
//   "SetSearchDirectory", "ReleaseObjectByUnknown", "ClearCache", "CollectGarbage",
//   "EnumInstrument(<index>)", "GetInstrument(0x<patch>)", "SetPatch(0x<patch>)",
//   "DownloadInstrument(<port>,0x<patch>)", "UnloadInstrument(<port>,0x<patch>)",
//   sample downloads: "GetDLId(<name>,<count>)", "GetAppend(<name>)",
//   "AllocateBuffer(<name>,<bytes>)", "Download(<name>,<wave|instrument>,<id>)",
//   "Unload(<name>,<wave|instrument>,<id>)". Ids start at 1; the append is 4 frames.
//   Master clocks: "EnumMasterClock(<index>)", "SetMasterClock(<clock name|?>)",
//   "GetMasterClock".
// A failing call is logged too. Failure names are the call names above without arguments;
// "Activate" fails Activate(TRUE) and "Deactivate" fails Activate(FALSE). A scripted
// failure stays until ClearFailure.
//
// Thread safety: one mutex per system guards the log, the scripts and the records, so ports
// may be used from several threads (the contract still wants sends on one port serialised)
// while a test reads the records. There is no global state.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/music/IMusicSystem.h"
#include "platform/music/MidiInputQueue.h"
#include "platform/music/ThruRouter.h"
#include "platform/music/Types.h"

namespace platform::music::fake {

struct FakeState;

// Script and record of one port. Owned by the system; references stay valid as long as the
// system (or any music object or port it made) lives.
class FakePort {
public:
    FakePort(FakeState& state, std::string name, DWORD portClass, DWORD number);

    const std::string& Name() const { return name_; }

    // --- Script (set before the code under test enumerates or opens the port) ---
    // Description as enumeration reports it; defaults to the name. Longer than 127 code
    // units is cut (the caps keep a terminating NUL).
    FakePort& Description(std::u16string_view text);
    FakePort& Flags(DWORD capabilityFlags);
    FakePort& Type(DWORD portType);
    FakePort& EffectFlags(DWORD effectFlags);
    FakePort& Limits(DWORD maxVoices, DWORD maxAudioChannels, DWORD maxChannelGroups,
                     DWORD memorySize);
    // The call named fails with `result` (see the list of names above).
    FakePort& FailOn(std::string_view call, HRESULT result);
    FakePort& ClearFailure(std::string_view call);
    // QueryKsControl answers E_NOINTERFACE.
    FakePort& WithoutKsControl();
    // KsProperty answers DMUS_E_UNKNOWN_PROPERTY (the port has no effects property).
    FakePort& WithoutEffectsProperty();
    // QueryPortDownload answers E_NOINTERFACE (default: offered when the flags contain
    // DMUS_PC_DLS or DMUS_PC_DLS2).
    FakePort& WithoutDownload();
    // Time the latency clock reports (default 0).
    FakePort& ClockTime(REFERENCE_TIME time);
    // Takes the port off (false) or back onto (true) the port list, as when a device goes
    // away or comes back; opened port objects stay.
    FakePort& Listed(bool listed);

    // --- Input (ports of the input class) ---
    // One message arriving on the opened input port, as the platform's input thread would
    // deliver it: forwarded through the thru connections, then queued for Read. Ignored while
    // the port is not active. Any thread.
    void Receive(std::vector<BYTE> message, REFERENCE_TIME time = 0);
    // Messages waiting to be read on the opened input port.
    std::size_t Waiting() const;

    // Capabilities as enumeration gives them (GUID unique within the system).
    DMUS_PORTCAPS Caps() const;

    // --- Record ---
    // Short messages played, in order (status in bits 0-7).
    std::vector<DWORD> Played() const;
    // Unstructured events played (system exclusive and the like), in order.
    std::vector<std::vector<BYTE>> PlayedLong() const;
    // Parameters the last CreatePort of this port received.
    std::optional<DMUS_PORTPARAMS8> LastParams() const;
    // Last value set with the effects property, if any.
    std::optional<DWORD> Effects() const;
    // Download buffers handed to Download and not unloaded since, copied when downloaded,
    // in order.
    std::vector<std::vector<BYTE>> Downloaded() const;
    // Opened port objects that have not been destroyed yet.
    int OpenCount() const;
    // True between a successful Activate(TRUE) and the next Activate(FALSE) or release.
    bool IsActive() const;
    // Messages thru connections delivered to this output port (status in bits 0-7), by group.
    std::vector<std::pair<DWORD, DWORD>> ThruReceived() const;

private:
    friend class FakeMusicPort;
    friend class FakeMusic;
    friend class FakeClock;
    friend class FakeKsControl;
    friend class FakeDownload;

    FakeState& state_;
    std::string name_;
    DMUS_PORTCAPS caps_;
    bool ksControl_ = true;
    bool effectsProperty_ = true;
    bool download_ = true;
    bool listed_ = true;
    REFERENCE_TIME clockTime_ = 0;
    std::vector<DWORD> played_;
    std::vector<std::vector<BYTE>> playedLong_;
    std::optional<DMUS_PORTPARAMS8> lastParams_;
    std::optional<DWORD> effects_;
    std::vector<std::pair<const void*, std::vector<BYTE>>> downloaded_;
    int openCount_ = 0;
    int activeCount_ = 0;
    std::vector<std::pair<DWORD, DWORD>> thruReceived_;
    // Input of the most recently opened port object (input class only).
    std::shared_ptr<MidiInputQueue> queue_;
    std::shared_ptr<ThruRouter> thru_;
};

// One instrument of the fake collection.
struct FakeInstrument {
    DWORD patch;
    std::string name;
};

class FakeMusicSystem final : public IMusicSystem {
public:
    FakeMusicSystem();
    ~FakeMusicSystem() override;
    FakeMusicSystem(const FakeMusicSystem&) = delete;
    FakeMusicSystem& operator=(const FakeMusicSystem&) = delete;

    // Adds a port of the given class (DMUS_PC_INPUTCLASS or DMUS_PC_OUTPUTCLASS) at the end
    // of the port list. The name identifies it in the log.
    FakePort& AddPort(std::string name, DWORD portClass);
    // The port added under `name`; throws std::out_of_range when there is none.
    FakePort& Port(std::string_view name);

    // Adds a master clock (listed in the order added; the first is the master until another
    // is set). Its description is the name; its time is `time`.
    FakeMusicSystem& AddClock(std::string name, DWORD clockType, REFERENCE_TIME time = 0);
    // GUID the clock added under `name` is listed with.
    GUID ClockGuid(std::string_view name) const;

    // System-level failures: "CreateMusic", "EnumMasterClock", "SetMasterClock",
    // "GetMasterClock", "SetDirectSound", "EnumPort", "CreatePort",
    // "CreateMusicBuffer", "PackStructured", "PackUnstructured", "Flush", "GetTime".
    FakeMusicSystem& FailOn(std::string_view call, HRESULT result);
    FakeMusicSystem& ClearFailure(std::string_view call);

    // What every collection the fake loader loads contains (default: three instruments,
    // "Piano" 0, "Bright Piano" 1 and the drum kit "Standard" 0x80000000).
    FakeMusicSystem& Collection(std::vector<FakeInstrument> instruments);
    // Patches downloaded to any port and not unloaded, in download order.
    std::vector<DWORD> Downloaded() const;

    // Every call so far, in order.
    std::vector<std::string> Log() const;
    void ClearLog();

    HRESULT CreateMusic(std::unique_ptr<IMusic>* music) override;
    HRESULT CreateLoader(std::unique_ptr<IMusicLoader>* loader) override;

private:
    std::shared_ptr<FakeState> state_;
};

}  // namespace platform::music::fake
