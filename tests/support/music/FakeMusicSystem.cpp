#include "tests/support/music/FakeMusicSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/music/DownloadBuffer.h"
#include "platform/music/DownloadTypes.h"
#include "platform/music/EventBuffer.h"
#include "platform/music/ResultCodes.h"

namespace platform::music::fake {

// Everything a system shares with the objects it makes; kept alive by each of them.
struct FakeState {
    mutable std::mutex mutex;
    std::vector<std::string> log;
    std::map<std::string, HRESULT, std::less<>> failures;
    std::vector<std::unique_ptr<FakePort>> ports;
    std::map<const FakePort*, std::map<std::string, HRESULT, std::less<>>> portFailures;
    DWORD nextDownloadId = 1;
    struct Clock {
        std::string name;
        DMUS_CLOCKINFO8 info;
        std::shared_ptr<IReferenceClock> clock;
    };
    std::vector<Clock> clocks;
    std::size_t master = 0;
    std::vector<FakeInstrument> instruments{
        {0x00000000, "Piano"}, {0x00000001, "Bright Piano"}, {0x80000000, "Standard"}};
    std::vector<DWORD> downloaded;

    // Appends to the log and returns the scripted result of `call` (port first, then system).
    // The caller holds the mutex.
    HRESULT Record(std::string entry, std::string_view call, const FakePort* port = nullptr) {
        log.push_back(std::move(entry));
        if (port != nullptr) {
            const auto& own = portFailures[port];
            if (const auto it = own.find(call); it != own.end())
                return it->second;
        }
        if (const auto it = failures.find(call); it != failures.end())
            return it->second;
        return S_OK;
    }
};

namespace {

std::string Format(const char* format, auto... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

void SetDescription(DMUS_PORTCAPS& caps, std::u16string_view text) {
    caps.wszDescription.fill(u'\0');
    const std::size_t n = std::min(text.size(), caps.wszDescription.size() - 1);
    std::copy_n(text.begin(), n, caps.wszDescription.begin());
}

// Names are test data in ASCII; each byte becomes one code unit.
std::u16string Widen(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace

class FakeClock final : public IReferenceClock {
public:
    FakeClock(std::shared_ptr<FakeState> state, FakePort& port)
        : state_(std::move(state)), port_(port) {}
    HRESULT GetTime(REFERENCE_TIME* time) override;

private:
    std::shared_ptr<FakeState> state_;
    FakePort& port_;
};

class FakeKsControl final : public IKsControl {
public:
    FakeKsControl(std::shared_ptr<FakeState> state, FakePort& port)
        : state_(std::move(state)), port_(port) {}
    HRESULT KsProperty(const KSPROPERTY* property, ULONG propertyLength, void* data,
                       ULONG dataLength, ULONG* bytesReturned) override;

private:
    std::shared_ptr<FakeState> state_;
    FakePort& port_;
};

namespace {

class FakeInstrumentObject final : public IInstrument {
public:
    FakeInstrumentObject(std::shared_ptr<FakeState> state, DWORD patch)
        : state_(std::move(state)), patch_(patch) {}
    HRESULT GetPatch(DWORD* patch) override {
        if (patch == nullptr)
            return E_POINTER;
        *patch = patch_;
        return S_OK;
    }
    HRESULT SetPatch(DWORD patch) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = state_->Record(Format("SetPatch(0x%08x)", patch), "SetPatch");
        if (Succeeded(hr))
            patch_ = patch;
        return hr;
    }

private:
    std::shared_ptr<FakeState> state_;
    DWORD patch_;
};

class FakeDownloaded final : public IDownloadedInstrument {
public:
    explicit FakeDownloaded(DWORD patch) : patch(patch) {}
    DWORD patch;
};

}  // namespace

// Both kinds of download of a port: sample memory (waves and instruments in download buffers)
// and instruments of collections.
class FakeDownload final : public IPortDownload {
public:
    FakeDownload(std::shared_ptr<FakeState> state, FakePort& port)
        : state_(std::move(state)), port_(port) {}

    HRESULT AllocateBuffer(DWORD size, std::shared_ptr<IDownload>* buffer) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr =
            Record(Format("AllocateBuffer(%s,%u)", port_.name_.c_str(), size), "AllocateBuffer");
        if (Failed(hr))
            return hr;
        if (buffer == nullptr)
            return E_POINTER;
        *buffer = std::make_shared<DownloadBuffer>(size);
        return S_OK;
    }
    HRESULT GetDLId(DWORD* start, DWORD count) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Record(Format("GetDLId(%s,%u)", port_.name_.c_str(), count), "GetDLId");
        if (Failed(hr))
            return hr;
        if (start == nullptr)
            return E_POINTER;
        *start = state_->nextDownloadId;
        state_->nextDownloadId += count;
        return S_OK;
    }
    HRESULT GetAppend(DWORD* append) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Record("GetAppend(" + port_.name_ + ")", "GetAppend");
        if (Failed(hr))
            return hr;
        if (append == nullptr)
            return E_POINTER;
        *append = 4;
        return S_OK;
    }
    HRESULT Download(IDownload& buffer) override {
        std::vector<BYTE> bytes = Bytes(buffer);
        std::lock_guard lock(state_->mutex);
        const HRESULT hr =
            Record("Download(" + port_.name_ + "," + Describe(bytes) + ")", "Download");
        if (Failed(hr))
            return hr;
        port_.downloaded_.emplace_back(&buffer, std::move(bytes));
        return S_OK;
    }
    HRESULT Unload(IDownload& buffer) override {
        const std::vector<BYTE> bytes = Bytes(buffer);
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Record("Unload(" + port_.name_ + "," + Describe(bytes) + ")", "Unload");
        if (Failed(hr))
            return hr;
        auto& list = port_.downloaded_;
        const auto it = std::find_if(list.begin(), list.end(),
                                     [&](const auto& entry) { return entry.first == &buffer; });
        if (it == list.end())
            return DMUS_E_NOT_DOWNLOADED_TO_PORT;
        list.erase(it);
        return S_OK;
    }
    HRESULT DownloadInstrument(IInstrument& instrument,
                               std::shared_ptr<IDownloadedInstrument>* downloaded,
                               const DMUS_NOTERANGE*, DWORD) override {
        DWORD patch = 0;
        instrument.GetPatch(&patch);
        std::lock_guard lock(state_->mutex);
        const HRESULT hr =
            state_->Record(Format("DownloadInstrument(%s,0x%08x)", port_.name_.c_str(), patch),
                           "DownloadInstrument");
        if (Failed(hr))
            return hr;
        if (downloaded == nullptr)
            return E_POINTER;
        state_->downloaded.push_back(patch);
        *downloaded = std::make_shared<FakeDownloaded>(patch);
        return S_OK;
    }
    HRESULT UnloadInstrument(IDownloadedInstrument& downloaded) override {
        const DWORD patch = static_cast<FakeDownloaded&>(downloaded).patch;
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = state_->Record(
            Format("UnloadInstrument(%s,0x%08x)", port_.name_.c_str(), patch), "UnloadInstrument");
        if (Failed(hr))
            return hr;
        auto& list = state_->downloaded;
        if (const auto it = std::find(list.begin(), list.end(), patch); it != list.end())
            list.erase(it);
        return S_OK;
    }

private:
    HRESULT Record(std::string entry, std::string_view call) {
        return state_->Record(std::move(entry), call, &port_);
    }
    static std::vector<BYTE> Bytes(IDownload& buffer) {
        void* data = nullptr;
        DWORD size = 0;
        if (Failed(buffer.GetBuffer(&data, &size)) || data == nullptr)
            return {};
        const auto* bytes = static_cast<const BYTE*>(data);
        return {bytes, bytes + size};
    }
    // "<wave|instrument|?>,<id>" from the buffer's DMUS_DOWNLOADINFO.
    static std::string Describe(const std::vector<BYTE>& bytes) {
        DMUS_DOWNLOADINFO info;
        if (bytes.size() < sizeof info)
            return "?,0";
        std::memcpy(&info, bytes.data(), sizeof info);
        const char* type = info.dwDLType == DMUS_DOWNLOADINFO_WAVE         ? "wave"
                           : info.dwDLType == DMUS_DOWNLOADINFO_INSTRUMENT ? "instrument"
                                                                           : "?";
        return Format("%s,%u", type, info.dwDLId);
    }

    std::shared_ptr<FakeState> state_;
    FakePort& port_;
};

namespace {

class FakeCollection final : public ICollection {
public:
    FakeCollection(std::shared_ptr<FakeState> state, std::vector<FakeInstrument> instruments)
        : state_(std::move(state)), instruments_(std::move(instruments)) {}
    HRESULT EnumInstrument(DWORD index, DWORD* patch, char16_t* name, DWORD nameLength) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = state_->Record(Format("EnumInstrument(%u)", index), "EnumInstrument");
        if (Failed(hr))
            return hr;
        if (patch == nullptr || name == nullptr || nameLength == 0)
            return E_POINTER;
        if (index >= instruments_.size())
            return S_FALSE;
        *patch = instruments_[index].patch;
        const std::u16string wide = Widen(instruments_[index].name);
        const std::size_t n = std::min<std::size_t>(wide.size(), nameLength - 1);
        std::copy_n(wide.begin(), n, name);
        name[n] = u'\0';
        return S_OK;
    }
    HRESULT GetInstrument(DWORD patch, std::shared_ptr<IInstrument>* instrument) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = state_->Record(Format("GetInstrument(0x%08x)", patch), "GetInstrument");
        if (Failed(hr))
            return hr;
        if (instrument == nullptr)
            return E_POINTER;
        const bool present = std::any_of(instruments_.begin(), instruments_.end(),
                                         [&](const FakeInstrument& i) { return i.patch == patch; });
        if (!present)
            return DMUS_E_INVALIDPATCH;
        *instrument = std::make_shared<FakeInstrumentObject>(state_, patch);
        return S_OK;
    }

private:
    std::shared_ptr<FakeState> state_;
    std::vector<FakeInstrument> instruments_;
};

class FakeLoader final : public IMusicLoader {
public:
    explicit FakeLoader(std::shared_ptr<FakeState> state) : state_(std::move(state)) {}
    HRESULT GetCollection(const DMUS_OBJECTDESC* desc,
                          std::shared_ptr<ICollection>* collection) override {
        std::lock_guard lock(state_->mutex);
        std::string what = "default";
        if (desc != nullptr && (desc->dwValidData & DMUS_OBJ_MEMORY))
            what = Format("memory:%lld", static_cast<long long>(desc->llMemLength));
        else if (desc != nullptr && (desc->dwValidData & DMUS_OBJ_FILENAME))
            what = "file:" + std::string(desc->wszFileName.begin(),
                                         std::find(desc->wszFileName.begin(),
                                                   desc->wszFileName.end(), u'\0'));
        const HRESULT hr = state_->Record("GetCollection(" + what + ")", "GetCollection");
        if (Failed(hr))
            return hr;
        if (desc == nullptr || collection == nullptr)
            return E_POINTER;
        *collection = std::make_shared<FakeCollection>(state_, state_->instruments);
        return S_OK;
    }
    HRESULT SetSearchDirectory(const GUID&, std::u16string_view, BOOL) override {
        std::lock_guard lock(state_->mutex);
        return state_->Record("SetSearchDirectory", "SetSearchDirectory");
    }
    HRESULT ReleaseObjectByUnknown(ICollection*) override {
        std::lock_guard lock(state_->mutex);
        return state_->Record("ReleaseObjectByUnknown", "ReleaseObjectByUnknown");
    }
    HRESULT ClearCache(const GUID&) override {
        std::lock_guard lock(state_->mutex);
        return state_->Record("ClearCache", "ClearCache");
    }
    HRESULT CollectGarbage() override {
        std::lock_guard lock(state_->mutex);
        return state_->Record("CollectGarbage", "CollectGarbage");
    }

private:
    std::shared_ptr<FakeState> state_;
};

// Records what thru connections deliver to an output port.
class FakeSink final : public IMidiSink {
public:
    FakeSink(std::shared_ptr<FakeState> state, FakePort& port,
             std::vector<std::pair<DWORD, DWORD>>& into)
        : state_(std::move(state)), port_(port), into_(into) {}
    void Send(DWORD channelGroup, const BYTE* data, DWORD length) noexcept override {
        DWORD message = 0;
        for (DWORD i = 0; i < length && i < 4; ++i)
            message |= DWORD{data[i]} << (8 * i);
        std::lock_guard lock(state_->mutex);
        into_.emplace_back(channelGroup, message);
    }

private:
    std::shared_ptr<FakeState> state_;
    FakePort& port_;
    std::vector<std::pair<DWORD, DWORD>>& into_;
};

// The input queue with the fake's log and scripted failures in front of it.
class FakeInput final : public IMidiInput {
public:
    FakeInput(std::shared_ptr<FakeState> state, const FakePort& port, std::string name,
              std::shared_ptr<MidiInputQueue> queue)
        : state_(std::move(state)), port_(port), name_(std::move(name)), queue_(std::move(queue)) {}
    HRESULT SetReadNotificationHandle(std::shared_ptr<AutoResetEvent> event) override {
        {
            std::lock_guard lock(state_->mutex);
            const HRESULT hr = state_->Record(
                Format("SetReadNotificationHandle(%s,%d)", name_.c_str(), event ? 1 : 0),
                "SetReadNotificationHandle", &port_);
            if (Failed(hr))
                return hr;
        }
        return queue_->SetReadNotificationHandle(std::move(event));
    }
    HRESULT Read(IMusicBuffer& buffer) override {
        {
            std::lock_guard lock(state_->mutex);
            const HRESULT hr = state_->Record("Read(" + name_ + ")", "Read", &port_);
            if (Failed(hr))
                return hr;
        }
        return queue_->Read(buffer);
    }

private:
    std::shared_ptr<FakeState> state_;
    const FakePort& port_;
    std::string name_;
    std::shared_ptr<MidiInputQueue> queue_;
};

std::string PortName(IMusicPort* port);

class FakeThru final : public IMusicThru {
public:
    FakeThru(std::shared_ptr<FakeState> state, const FakePort& port, std::string name,
             std::shared_ptr<ThruRouter> router)
        : state_(std::move(state)),
          port_(port),
          name_(std::move(name)),
          router_(std::move(router)) {}
    HRESULT ThruChannel(DWORD sourceGroup, DWORD sourceChannel, DWORD destinationGroup,
                        DWORD destinationChannel, IMusicPort* destination) override {
        {
            std::lock_guard lock(state_->mutex);
            const HRESULT hr = state_->Record(
                Format("ThruChannel(%s,%u,%u,%u,%u,%s)", name_.c_str(), sourceGroup, sourceChannel,
                       destinationGroup, destinationChannel, PortName(destination).c_str()),
                "ThruChannel", &port_);
            if (Failed(hr))
                return hr;
        }
        return router_->ThruChannel(sourceGroup, sourceChannel, destinationGroup,
                                    destinationChannel, destination);
    }

private:
    std::shared_ptr<FakeState> state_;
    const FakePort& port_;
    std::string name_;
    std::shared_ptr<ThruRouter> router_;
};

class FakeBuffer final : public IMusicBuffer {
public:
    FakeBuffer(std::shared_ptr<FakeState> state, DWORD capacity)
        : state_(std::move(state)), events_(capacity) {}

    HRESULT PackStructured(REFERENCE_TIME time, DWORD channelGroup, DWORD message) override {
        {
            std::lock_guard lock(state_->mutex);
            const HRESULT hr = state_->Record(
                Format("PackStructured(%u,0x%08x)", channelGroup, message), "PackStructured");
            if (Failed(hr))
                return hr;
        }
        return events_.PackStructured(time, channelGroup, message);
    }
    HRESULT PackUnstructured(REFERENCE_TIME time, DWORD channelGroup, DWORD length,
                             const BYTE* data) override {
        {
            std::lock_guard lock(state_->mutex);
            const HRESULT hr = state_->Record(
                Format("PackUnstructured(%u,%u)", channelGroup, length), "PackUnstructured");
            if (Failed(hr))
                return hr;
        }
        return events_.PackUnstructured(time, channelGroup, length, data);
    }
    HRESULT Flush() override {
        {
            std::lock_guard lock(state_->mutex);
            const HRESULT hr = state_->Record("Flush", "Flush");
            if (Failed(hr))
                return hr;
        }
        return events_.Flush();
    }
    HRESULT ResetReadPtr() override { return events_.ResetReadPtr(); }
    HRESULT GetNextEvent(REFERENCE_TIME* time, DWORD* channelGroup, DWORD* length,
                         const BYTE** data) override {
        return events_.GetNextEvent(time, channelGroup, length, data);
    }
    DWORD GetMaxBytes() const override { return events_.GetMaxBytes(); }

private:
    std::shared_ptr<FakeState> state_;
    EventBuffer events_;
};

}  // namespace

class FakeMusicPort final : public IMusicPort {
public:
    // The caller holds the state's mutex.
    FakeMusicPort(std::shared_ptr<FakeState> state, FakePort& port)
        : state_(std::move(state)), port_(port) {
        if (port_.caps_.dwClass == DMUS_PC_INPUTCLASS) {
            queue_ = std::make_shared<MidiInputQueue>();
            router_ = std::make_shared<ThruRouter>();
            port_.queue_ = queue_;
            port_.thru_ = router_;
        }
    }
    const std::string& Name() const { return port_.name_; }
    ~FakeMusicPort() override {
        std::lock_guard lock(state_->mutex);
        state_->log.push_back("ReleasePort(" + port_.name_ + ")");
        --port_.openCount_;
        if (active_)
            --port_.activeCount_;
        if (port_.queue_ == queue_) {
            port_.queue_.reset();
            port_.thru_.reset();
        }
    }

    HRESULT Activate(BOOL active) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call(Format("Activate(%s,%d)", port_.name_.c_str(), active ? 1 : 0),
                                active ? "Activate" : "Deactivate");
        if (Failed(hr))
            return hr;
        const bool wanted = active != FALSE;
        if (wanted != active_) {
            port_.activeCount_ += wanted ? 1 : -1;
            active_ = wanted;
        }
        return S_OK;
    }
    HRESULT GetCaps(DMUS_PORTCAPS* caps) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("GetCaps(" + port_.name_ + ")", "GetCaps");
        if (Failed(hr))
            return hr;
        if (caps == nullptr)
            return E_POINTER;
        if (caps->dwSize != sizeof(DMUS_PORTCAPS))
            return E_INVALIDARG;
        *caps = port_.caps_;
        return S_OK;
    }
    HRESULT GetLatencyClock(std::shared_ptr<IReferenceClock>* clock) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("GetLatencyClock(" + port_.name_ + ")", "GetLatencyClock");
        if (Failed(hr))
            return hr;
        if (clock == nullptr)
            return E_POINTER;
        *clock = std::make_shared<FakeClock>(state_, port_);
        return S_OK;
    }
    HRESULT PlayBuffer(IMusicBuffer& buffer) override {
        {
            std::lock_guard lock(state_->mutex);
            const HRESULT hr = Call("PlayBuffer(" + port_.name_ + ")", "PlayBuffer");
            if (Failed(hr))
                return hr;
        }
        // Read the events outside the lock: the buffer may be a fake one that logs.
        std::vector<DWORD> shorts;
        std::vector<std::vector<BYTE>> longs;
        buffer.ResetReadPtr();
        DWORD length = 0;
        const BYTE* data = nullptr;
        while (buffer.GetNextEvent(nullptr, nullptr, &length, &data) == S_OK) {
            const BYTE* bytes = data;
            if (length >= 1 && length <= 3 && ShortMessageLength(bytes[0]) == length) {
                DWORD message = 0;
                for (DWORD i = 0; i < length; ++i)
                    message |= DWORD{bytes[i]} << (8 * i);
                shorts.push_back(message);
            } else {
                longs.emplace_back(bytes, bytes + length);
            }
        }
        std::lock_guard lock(state_->mutex);
        port_.played_.insert(port_.played_.end(), shorts.begin(), shorts.end());
        for (auto& event : longs)
            port_.playedLong_.push_back(std::move(event));
        return S_OK;
    }
    HRESULT QueryKsControl(std::shared_ptr<IKsControl>* control) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("QueryKsControl(" + port_.name_ + ")", "QueryKsControl");
        if (Failed(hr))
            return hr;
        if (control == nullptr)
            return E_POINTER;
        if (!port_.ksControl_)
            return E_NOINTERFACE;
        *control = std::make_shared<FakeKsControl>(state_, port_);
        return S_OK;
    }
    HRESULT QueryPortDownload(std::shared_ptr<IPortDownload>* download) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("QueryPortDownload(" + port_.name_ + ")", "QueryPortDownload");
        if (Failed(hr))
            return hr;
        if (download == nullptr)
            return E_POINTER;
        const bool dls = (port_.caps_.dwFlags & (DMUS_PC_DLS | DMUS_PC_DLS2)) != 0;
        if (!port_.download_ || !dls)
            return E_NOINTERFACE;
        *download = std::make_shared<FakeDownload>(state_, port_);
        return S_OK;
    }
    HRESULT QueryMidiInput(std::shared_ptr<IMidiInput>* input) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("QueryMidiInput(" + port_.name_ + ")", "QueryMidiInput");
        if (Failed(hr))
            return hr;
        if (input == nullptr)
            return E_POINTER;
        if (!queue_)
            return E_NOINTERFACE;
        *input = std::make_shared<FakeInput>(state_, port_, port_.name_, queue_);
        return S_OK;
    }
    HRESULT QueryThru(std::shared_ptr<IMusicThru>* thru) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("QueryThru(" + port_.name_ + ")", "QueryThru");
        if (Failed(hr))
            return hr;
        if (thru == nullptr)
            return E_POINTER;
        if (!router_)
            return E_NOINTERFACE;
        *thru = std::make_shared<FakeThru>(state_, port_, port_.name_, router_);
        return S_OK;
    }
    HRESULT QueryMidiSink(std::shared_ptr<IMidiSink>* sink) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("QueryMidiSink(" + port_.name_ + ")", "QueryMidiSink");
        if (Failed(hr))
            return hr;
        if (sink == nullptr)
            return E_POINTER;
        if (port_.caps_.dwClass != DMUS_PC_OUTPUTCLASS)
            return E_NOINTERFACE;
        *sink = std::make_shared<FakeSink>(state_, port_, port_.thruReceived_);
        return S_OK;
    }
    HRESULT Compact() override {
        std::lock_guard lock(state_->mutex);
        return Call("Compact(" + port_.name_ + ")", "Compact");
    }
    HRESULT GetChannelPriority(DWORD channelGroup, DWORD channel, DWORD* priority) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr =
            Call(Format("GetChannelPriority(%s,%u,%u)", port_.name_.c_str(), channelGroup, channel),
                 "GetChannelPriority");
        if (Failed(hr))
            return hr;
        if (priority == nullptr)
            return E_POINTER;
        const auto it = priorities_.find({channelGroup, channel});
        *priority = it == priorities_.end() ? 0 : it->second;
        return hr;
    }
    HRESULT SetChannelPriority(DWORD channelGroup, DWORD channel, DWORD priority) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call(Format("SetChannelPriority(%s,%u,%u,%u)", port_.name_.c_str(),
                                       channelGroup, channel, priority),
                                "SetChannelPriority");
        if (Succeeded(hr))
            priorities_[{channelGroup, channel}] = priority;
        return hr;
    }
    HRESULT GetRunningStats(DMUS_SYNTHSTATS8* stats) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("GetRunningStats(" + port_.name_ + ")", "GetRunningStats");
        if (Failed(hr))
            return hr;
        if (stats == nullptr)
            return E_POINTER;
        if (stats->dwSize != sizeof(DMUS_SYNTHSTATS8))
            return E_INVALIDARG;
        stats->dwValidStats = DMUS_SYNTHSTATS_VOICES;
        stats->dwVoices = DWORD(port_.played_.size());
        return S_OK;
    }
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD* formatSize, DWORD* bufferSize) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("GetFormat(" + port_.name_ + ")", "GetFormat");
        if (Failed(hr))
            return hr;
        if (format == nullptr || formatSize == nullptr || bufferSize == nullptr)
            return E_POINTER;
        *format = WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
        *formatSize = sizeof(WAVEFORMATEX);
        *bufferSize = 4096;
        return S_OK;
    }
    HRESULT GetNumChannelGroups(DWORD* count) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call("GetNumChannelGroups(" + port_.name_ + ")", "GetNumChannelGroups");
        if (Failed(hr))
            return hr;
        if (count == nullptr)
            return E_POINTER;
        *count = channelGroups_;
        return S_OK;
    }
    HRESULT SetNumChannelGroups(DWORD count) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = Call(Format("SetNumChannelGroups(%s,%u)", port_.name_.c_str(), count),
                                "SetNumChannelGroups");
        if (Succeeded(hr))
            channelGroups_ = count;
        return hr;
    }

private:
    HRESULT Call(std::string entry, std::string_view call) {
        return state_->Record(std::move(entry), call, &port_);
    }

    std::shared_ptr<FakeState> state_;
    FakePort& port_;
    bool active_ = false;
    DWORD channelGroups_ = 1;
    std::shared_ptr<MidiInputQueue> queue_;
    std::shared_ptr<ThruRouter> router_;
    std::map<std::pair<DWORD, DWORD>, DWORD> priorities_;
};

namespace {
std::string PortName(IMusicPort* port) {
    if (port == nullptr)
        return "null";
    const auto* fake = dynamic_cast<FakeMusicPort*>(port);
    return fake != nullptr ? fake->Name() : "other";
}
}  // namespace

class FakeMusic final : public IMusic {
public:
    explicit FakeMusic(std::shared_ptr<FakeState> state) : state_(std::move(state)) {}

    HRESULT SetDirectSound(void* /*soundObject*/, WindowHandle /*window*/) override {
        std::lock_guard lock(state_->mutex);
        return state_->Record("SetDirectSound", "SetDirectSound");
    }
    HRESULT EnumPort(DWORD index, DMUS_PORTCAPS* caps) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = state_->Record(Format("EnumPort(%u)", index), "EnumPort");
        if (Failed(hr))
            return hr;
        if (caps == nullptr)
            return E_POINTER;
        if (caps->dwSize != sizeof(DMUS_PORTCAPS))
            return E_INVALIDARG;
        DWORD listed = 0;
        for (const auto& port : state_->ports) {
            if (!port->listed_)
                continue;
            if (listed++ == index) {
                *caps = port->caps_;
                return S_OK;
            }
        }
        return S_FALSE;
    }
    HRESULT CreatePort(const GUID& portGuid, DMUS_PORTPARAMS8* params,
                       std::unique_ptr<IMusicPort>* port) override {
        std::lock_guard lock(state_->mutex);
        const auto found = std::find_if(
            state_->ports.begin(), state_->ports.end(),
            [&](const auto& p) { return p->listed_ && p->caps_.guidPort == portGuid; });
        if (found == state_->ports.end()) {
            const HRESULT hr = state_->Record("CreatePort(?)", "CreatePort");
            return Failed(hr) ? hr : E_INVALIDARG;
        }
        FakePort& target = **found;
        const HRESULT hr =
            state_->Record("CreatePort(" + target.name_ + ")", "CreatePort", &target);
        if (Failed(hr))
            return hr;
        if (params == nullptr || port == nullptr)
            return E_POINTER;
        if (params->dwSize != sizeof(DMUS_PORTPARAMS8))
            return E_INVALIDARG;
        target.lastParams_ = *params;
        *port = std::make_unique<FakeMusicPort>(state_, target);
        ++target.openCount_;
        return S_OK;
    }
    HRESULT CreateMusicBuffer(const DMUS_BUFFERDESC* desc,
                              std::unique_ptr<IMusicBuffer>* buffer) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = state_->Record(
            Format("CreateMusicBuffer(%u)", desc ? desc->cbBuffer : 0u), "CreateMusicBuffer");
        if (Failed(hr))
            return hr;
        if (desc == nullptr || buffer == nullptr)
            return E_POINTER;
        if (desc->dwSize != sizeof(DMUS_BUFFERDESC) || desc->cbBuffer == 0)
            return E_INVALIDARG;
        *buffer = std::make_unique<FakeBuffer>(state_, desc->cbBuffer);
        return S_OK;
    }
    HRESULT EnumMasterClock(DWORD index, DMUS_CLOCKINFO8* info) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = state_->Record(Format("EnumMasterClock(%u)", index), "EnumMasterClock");
        if (Failed(hr))
            return hr;
        if (info == nullptr)
            return E_POINTER;
        if (info->dwSize != sizeof(DMUS_CLOCKINFO8))
            return E_INVALIDARG;
        if (index >= state_->clocks.size())
            return S_FALSE;
        *info = state_->clocks[index].info;
        return S_OK;
    }
    HRESULT SetMasterClock(const GUID& clockGuid) override {
        std::lock_guard lock(state_->mutex);
        auto& clocks = state_->clocks;
        const auto found = std::find_if(clocks.begin(), clocks.end(), [&](const auto& c) {
            return c.info.guidClock == clockGuid;
        });
        const HRESULT hr = state_->Record(
            "SetMasterClock(" + (found != clocks.end() ? found->name : std::string("?")) + ")",
            "SetMasterClock");
        if (Failed(hr))
            return hr;
        if (found == clocks.end())
            return E_INVALIDARG;
        state_->master = std::size_t(found - clocks.begin());
        return S_OK;
    }
    HRESULT GetMasterClock(GUID* clockGuid, std::shared_ptr<IReferenceClock>* clock) override {
        std::lock_guard lock(state_->mutex);
        const HRESULT hr = state_->Record("GetMasterClock", "GetMasterClock");
        if (Failed(hr))
            return hr;
        if (state_->clocks.empty())
            return E_FAIL;
        const auto& master = state_->clocks[state_->master];
        if (clockGuid != nullptr)
            *clockGuid = master.info.guidClock;
        if (clock != nullptr)
            *clock = master.clock;
        return S_OK;
    }

private:
    std::shared_ptr<FakeState> state_;
};

namespace {
// A master clock that stands still at its scripted time.
class FixedClock final : public IReferenceClock {
public:
    explicit FixedClock(REFERENCE_TIME time) : time_(time) {}
    HRESULT GetTime(REFERENCE_TIME* time) override {
        if (time == nullptr)
            return E_POINTER;
        *time = time_;
        return S_OK;
    }

private:
    REFERENCE_TIME time_;
};
}  // namespace

HRESULT FakeClock::GetTime(REFERENCE_TIME* time) {
    std::lock_guard lock(state_->mutex);
    const HRESULT hr = state_->Record("GetTime", "GetTime", &port_);
    if (Failed(hr))
        return hr;
    if (time == nullptr)
        return E_POINTER;
    *time = port_.clockTime_;
    return S_OK;
}

HRESULT FakeKsControl::KsProperty(const KSPROPERTY* property, ULONG propertyLength, void* data,
                                  ULONG dataLength, ULONG* bytesReturned) {
    std::lock_guard lock(state_->mutex);
    DWORD value = 0;
    if (data != nullptr)
        std::memcpy(&value, data, std::min<ULONG>(dataLength, sizeof value));
    const bool effects = property != nullptr && property->Set == GUID_DMUS_PROP_Effects;
    const HRESULT hr = state_->Record(
        Format("KsProperty(%s,%s,%u,%u,%u)", port_.name_.c_str(), effects ? "Effects" : "other",
               property ? property->Id : 0u, property ? property->Flags : 0u, value),
        "KsProperty", &port_);
    if (Failed(hr))
        return hr;
    if (property == nullptr || propertyLength < sizeof(KSPROPERTY))
        return E_INVALIDARG;
    if (!effects || !port_.effectsProperty_ || property->Id != 0)
        return DMUS_E_UNKNOWN_PROPERTY;
    if (data == nullptr || dataLength < sizeof(DWORD))
        return E_INVALIDARG;
    if (property->Flags & KSPROPERTY_TYPE_SET) {
        port_.effects_ = value;
        if (bytesReturned)
            *bytesReturned = 0;
        return S_OK;
    }
    const DWORD current = port_.effects_.value_or(0);
    std::memcpy(data, &current, sizeof current);
    if (bytesReturned)
        *bytesReturned = sizeof current;
    return S_OK;
}

FakePort::FakePort(FakeState& state, std::string name, DWORD portClass, DWORD number)
    : state_(state), name_(std::move(name)) {
    caps_.dwSize = sizeof(DMUS_PORTCAPS);
    caps_.dwClass = portClass;
    caps_.dwType =
        portClass == DMUS_PC_OUTPUTCLASS ? DMUS_PORT_USER_MODE_SYNTH : DMUS_PORT_WINMM_DRIVER;
    caps_.dwMaxChannelGroups = 1;
    caps_.dwMaxVoices = portClass == DMUS_PC_OUTPUTCLASS ? 256 : 0;
    caps_.dwMaxAudioChannels = portClass == DMUS_PC_OUTPUTCLASS ? 2 : 0;
    caps_.guidPort = GUID{0x7E570000u + number, 0xFA4E, 0x4D1C, {0x9A, 0x1B, 0, 0, 0, 0, 0, 1}};
    SetDescription(caps_, Widen(name_));
}

FakePort& FakePort::Description(std::u16string_view text) {
    std::lock_guard lock(state_.mutex);
    SetDescription(caps_, text);
    return *this;
}

FakePort& FakePort::Flags(DWORD capabilityFlags) {
    std::lock_guard lock(state_.mutex);
    caps_.dwFlags = capabilityFlags;
    return *this;
}

FakePort& FakePort::Type(DWORD portType) {
    std::lock_guard lock(state_.mutex);
    caps_.dwType = portType;
    return *this;
}

FakePort& FakePort::EffectFlags(DWORD effectFlags) {
    std::lock_guard lock(state_.mutex);
    caps_.dwEffectFlags = effectFlags;
    return *this;
}

FakePort& FakePort::Limits(DWORD maxVoices, DWORD maxAudioChannels, DWORD maxChannelGroups,
                           DWORD memorySize) {
    std::lock_guard lock(state_.mutex);
    caps_.dwMaxVoices = maxVoices;
    caps_.dwMaxAudioChannels = maxAudioChannels;
    caps_.dwMaxChannelGroups = maxChannelGroups;
    caps_.dwMemorySize = memorySize;
    return *this;
}

FakePort& FakePort::FailOn(std::string_view call, HRESULT result) {
    std::lock_guard lock(state_.mutex);
    state_.portFailures[this][std::string(call)] = result;
    return *this;
}

FakePort& FakePort::ClearFailure(std::string_view call) {
    std::lock_guard lock(state_.mutex);
    auto& own = state_.portFailures[this];
    if (const auto it = own.find(call); it != own.end())
        own.erase(it);
    return *this;
}

FakePort& FakePort::WithoutKsControl() {
    std::lock_guard lock(state_.mutex);
    ksControl_ = false;
    return *this;
}

FakePort& FakePort::WithoutEffectsProperty() {
    std::lock_guard lock(state_.mutex);
    effectsProperty_ = false;
    return *this;
}

FakePort& FakePort::WithoutDownload() {
    std::lock_guard lock(state_.mutex);
    download_ = false;
    return *this;
}

FakePort& FakePort::Listed(bool listed) {
    std::lock_guard lock(state_.mutex);
    listed_ = listed;
    return *this;
}

FakePort& FakePort::ClockTime(REFERENCE_TIME time) {
    std::lock_guard lock(state_.mutex);
    clockTime_ = time;
    return *this;
}

DMUS_PORTCAPS FakePort::Caps() const {
    std::lock_guard lock(state_.mutex);
    return caps_;
}

std::vector<std::vector<BYTE>> FakePort::Downloaded() const {
    std::lock_guard lock(state_.mutex);
    std::vector<std::vector<BYTE>> result;
    for (const auto& entry : downloaded_)
        result.push_back(entry.second);
    return result;
}

std::vector<DWORD> FakePort::Played() const {
    std::lock_guard lock(state_.mutex);
    return played_;
}

std::vector<std::vector<BYTE>> FakePort::PlayedLong() const {
    std::lock_guard lock(state_.mutex);
    return playedLong_;
}

std::optional<DMUS_PORTPARAMS8> FakePort::LastParams() const {
    std::lock_guard lock(state_.mutex);
    return lastParams_;
}

std::optional<DWORD> FakePort::Effects() const {
    std::lock_guard lock(state_.mutex);
    return effects_;
}

int FakePort::OpenCount() const {
    std::lock_guard lock(state_.mutex);
    return openCount_;
}

bool FakePort::IsActive() const {
    std::lock_guard lock(state_.mutex);
    return activeCount_ > 0;
}

std::vector<std::pair<DWORD, DWORD>> FakePort::ThruReceived() const {
    std::lock_guard lock(state_.mutex);
    return thruReceived_;
}

void FakePort::Receive(std::vector<BYTE> message, REFERENCE_TIME time) {
    std::shared_ptr<MidiInputQueue> queue;
    std::shared_ptr<ThruRouter> thru;
    {
        std::lock_guard lock(state_.mutex);
        if (activeCount_ == 0)
            return;
        queue = queue_;
        thru = thru_;
    }
    // Outside the lock: the thru destinations record under it.
    if (thru)
        thru->Forward(1, message.data(), DWORD(message.size()));
    if (queue)
        queue->Push(time, message.data(), DWORD(message.size()));
}

std::size_t FakePort::Waiting() const {
    std::shared_ptr<MidiInputQueue> queue;
    {
        std::lock_guard lock(state_.mutex);
        queue = queue_;
    }
    return queue ? queue->Waiting() : 0;
}

FakeMusicSystem::FakeMusicSystem() : state_(std::make_shared<FakeState>()) {}

FakeMusicSystem::~FakeMusicSystem() = default;

FakePort& FakeMusicSystem::AddPort(std::string name, DWORD portClass) {
    std::lock_guard lock(state_->mutex);
    const auto number = DWORD(state_->ports.size());
    state_->ports.push_back(
        std::make_unique<FakePort>(*state_, std::move(name), portClass, number));
    return *state_->ports.back();
}

FakeMusicSystem& FakeMusicSystem::AddClock(std::string name, DWORD clockType, REFERENCE_TIME time) {
    std::lock_guard lock(state_->mutex);
    FakeState::Clock clock;
    clock.info.dwSize = sizeof(DMUS_CLOCKINFO8);
    clock.info.ctType = clockType;
    clock.info.guidClock = GUID{0xC10C0000u + DWORD(state_->clocks.size()), 0, 0, {}};
    clock.info.dwFlags = DMUS_CLOCKF_GLOBAL;
    const std::u16string wide = Widen(name);
    std::copy_n(wide.begin(), std::min(wide.size(), clock.info.wszDescription.size() - 1),
                clock.info.wszDescription.begin());
    clock.name = std::move(name);
    clock.clock = std::make_shared<FixedClock>(time);
    state_->clocks.push_back(std::move(clock));
    return *this;
}

GUID FakeMusicSystem::ClockGuid(std::string_view name) const {
    std::lock_guard lock(state_->mutex);
    for (const auto& clock : state_->clocks)
        if (clock.name == name)
            return clock.info.guidClock;
    throw std::out_of_range("no fake clock " + std::string(name));
}

FakePort& FakeMusicSystem::Port(std::string_view name) {
    std::lock_guard lock(state_->mutex);
    for (const auto& port : state_->ports)
        if (port->Name() == name)
            return *port;
    throw std::out_of_range("no fake port named " + std::string(name));
}

FakeMusicSystem& FakeMusicSystem::FailOn(std::string_view call, HRESULT result) {
    std::lock_guard lock(state_->mutex);
    state_->failures[std::string(call)] = result;
    return *this;
}

FakeMusicSystem& FakeMusicSystem::ClearFailure(std::string_view call) {
    std::lock_guard lock(state_->mutex);
    if (const auto it = state_->failures.find(call); it != state_->failures.end())
        state_->failures.erase(it);
    return *this;
}

std::vector<std::string> FakeMusicSystem::Log() const {
    std::lock_guard lock(state_->mutex);
    return state_->log;
}

void FakeMusicSystem::ClearLog() {
    std::lock_guard lock(state_->mutex);
    state_->log.clear();
}

HRESULT FakeMusicSystem::CreateLoader(std::unique_ptr<IMusicLoader>* loader) {
    std::lock_guard lock(state_->mutex);
    const HRESULT hr = state_->Record("CreateLoader", "CreateLoader");
    if (Failed(hr))
        return hr;
    if (loader == nullptr)
        return E_POINTER;
    *loader = std::make_unique<FakeLoader>(state_);
    return S_OK;
}

FakeMusicSystem& FakeMusicSystem::Collection(std::vector<FakeInstrument> instruments) {
    std::lock_guard lock(state_->mutex);
    state_->instruments = std::move(instruments);
    return *this;
}

std::vector<DWORD> FakeMusicSystem::Downloaded() const {
    std::lock_guard lock(state_->mutex);
    return state_->downloaded;
}

HRESULT FakeMusicSystem::CreateMusic(std::unique_ptr<IMusic>* music) {
    std::lock_guard lock(state_->mutex);
    const HRESULT hr = state_->Record("CreateMusic", "CreateMusic");
    if (Failed(hr))
        return hr;
    if (music == nullptr)
        return E_POINTER;
    *music = std::make_unique<FakeMusic>(state_);
    return S_OK;
}

}  // namespace platform::music::fake
