#include "platform/music/ErrorText.h"

#include <algorithm>
#include <array>

#include "platform/music/ResultCodes.h"

namespace platform::music {
namespace {

struct Entry {
    HRESULT code;
    ResultText text;
};

constexpr std::array kTable{
    Entry{S_OK, {"S_OK", "The function completed successfully"}},
    Entry{S_FALSE, {"S_FALSE", "Call successful, but returned FALSE"}},
    Entry{E_NOTIMPL, {"E_NOTIMPL", "The function is not implemented"}},
    Entry{E_NOINTERFACE, {"E_NOINTERFACE", "The requested COM interface is not available"}},
    Entry{E_POINTER, {"E_POINTER", "Invalid pointer"}},
    Entry{E_ABORT, {"E_ABORT", "Operation aborted"}},
    Entry{E_FAIL, {"E_FAIL", "An undetermined error occurred"}},
    Entry{E_UNEXPECTED, {"E_UNEXPECTED", "Catastrophic failure"}},
    Entry{E_ACCESSDENIED, {"E_ACCESSDENIED", "Access is denied"}},
    Entry{E_HANDLE, {"E_HANDLE", "The handle is invalid"}},
    Entry{E_OUTOFMEMORY, {"E_OUTOFMEMORY", "Ran out of memory"}},
    Entry{E_INVALIDARG,
          {"E_INVALIDARG", "An invalid parameter was passed to the returning function"}},
    Entry{CLASS_E_NOAGGREGATION, {"CLASS_E_NOAGGREGATION", "Class does not support aggregation"}},
    Entry{REGDB_E_CLASSNOTREG, {"REGDB_E_CLASSNOTREG", "Class not registered"}},
    Entry{CO_E_NOTINITIALIZED, {"CO_E_NOTINITIALIZED", "CoInitialize has not been called"}},
    Entry{DMUS_E_DRIVER_FAILED,
          {"DMUS_E_DRIVER_FAILED",
           "An unexpected error was returned from a device driver, indicating possible failure of "
           "the driver or hardware"}},
    Entry{DMUS_E_PORTS_OPEN,
          {"DMUS_E_PORTS_OPEN",
           "The requested operation cannot be performed while there are instantiated ports in any "
           "process in the system"}},
    Entry{DMUS_E_DEVICE_IN_USE,
          {"DMUS_E_DEVICE_IN_USE",
           "The requested device is already in use (possibly by a non-DirectMusic client) and "
           "cannot be opened again"}},
    Entry{DMUS_E_INSUFFICIENTBUFFER,
          {"DMUS_E_INSUFFICIENTBUFFER", "Buffer is not large enough for requested operation"}},
    Entry{DMUS_E_BUFFERNOTSET,
          {"DMUS_E_BUFFERNOTSET", "No buffer was prepared for the download data"}},
    Entry{DMUS_E_BUFFERNOTAVAILABLE,
          {"DMUS_E_BUFFERNOTAVAILABLE",
           "Download failed due to inability to access or create download buffer"}},
    Entry{DMUS_E_NOTADLSCOL,
          {"DMUS_E_NOTADLSCOL", "Error parsing DLS collection. File is corrupt"}},
    Entry{DMUS_E_INVALIDOFFSET,
          {"DMUS_E_INVALIDOFFSET", "Wave chunks in DLS collection file are at incorrect offsets"}},
    Entry{DMUS_E_ALREADY_LOADED,
          {"DMUS_E_ALREADY_LOADED",
           "Second attempt to load a DLS collection that is currently open"}},
    Entry{DMUS_E_INVALIDPOS,
          {"DMUS_E_INVALIDPOS", "Error reading wave data from DLS collection. Indicates bad file"}},
    Entry{DMUS_E_INVALIDPATCH,
          {"DMUS_E_INVALIDPATCH",
           "There is no instrument in the collection that matches patch number"}},
    Entry{DMUS_E_CANNOTSEEK, {"DMUS_E_CANNOTSEEK", "The IStream* doesn't support Seek()"}},
    Entry{DMUS_E_CANNOTWRITE, {"DMUS_E_CANNOTWRITE", "The IStream* doesn't support Write()"}},
    Entry{DMUS_E_CHUNKNOTFOUND,
          {"DMUS_E_CHUNKNOTFOUND",
           "The RIFF parser doesn't contain a required chunk while parsing file"}},
    Entry{DMUS_E_INVALID_DOWNLOADID,
          {"DMUS_E_INVALID_DOWNLOADID",
           "Invalid download id was used in the process of creating a download buffer"}},
    Entry{DMUS_E_NOT_DOWNLOADED_TO_PORT,
          {"DMUS_E_NOT_DOWNLOADED_TO_PORT",
           "Tried to unload an object that was not downloaded or previously unloaded"}},
    Entry{DMUS_E_ALREADY_DOWNLOADED,
          {"DMUS_E_ALREADY_DOWNLOADED", "Buffer was already downloaded to synth"}},
    Entry{DMUS_E_UNKNOWN_PROPERTY,
          {"DMUS_E_UNKNOWN_PROPERTY",
           "The specified property item was not recognized by the target object"}},
    Entry{DMUS_E_SET_UNSUPPORTED,
          {"DMUS_E_SET_UNSUPPORTED",
           "The specified property item may not be set on the target object"}},
    Entry{DMUS_E_GET_UNSUPPORTED,
          {"DMUS_E_GET_UNSUPPORTED",
           "The specified property item may not be retrieved from the target object"}},
    Entry{DMUS_E_NOTMONO,
          {"DMUS_E_NOTMONO",
           "Wave chunk has more than one interleaved channel. DLS format requires MONO"}},
    Entry{DMUS_E_BADARTICULATION,
          {"DMUS_E_BADARTICULATION", "Invalid articulation chunk in DLS collection"}},
    Entry{DMUS_E_BADINSTRUMENT,
          {"DMUS_E_BADINSTRUMENT", "Invalid instrument chunk in DLS collection"}},
    Entry{DMUS_E_BADWAVELINK,
          {"DMUS_E_BADWAVELINK", "Wavelink chunk in DLS collection points to invalid wave"}},
    Entry{DMUS_E_NOARTICULATION,
          {"DMUS_E_NOARTICULATION", "Articulation missing from instrument in DLS collection"}},
    Entry{DMUS_E_NOTPCM, {"DMUS_E_NOTPCM", "Downloaded DLS wave is not in PCM format"}},
    Entry{DMUS_E_BADWAVE, {"DMUS_E_BADWAVE", "Bad wave chunk in DLS collection"}},
    Entry{DMUS_E_BADOFFSETTABLE,
          {"DMUS_E_BADOFFSETTABLE", "Offset Table for download buffer has errors"}},
    Entry{DMUS_E_UNKNOWNDOWNLOAD,
          {"DMUS_E_UNKNOWNDOWNLOAD", "Attempted to download unknown data type"}},
    Entry{
        DMUS_E_NOSYNTHSINK,
        {"DMUS_E_NOSYNTHSINK",
         "The operation could not be completed because no sink was connected to the synthesizer"}},
    Entry{DMUS_E_ALREADYOPEN,
          {"DMUS_E_ALREADYOPEN",
           "An attempt was made to open the software synthesizer while it was already open"}},
    Entry{DMUS_E_ALREADYCLOSED,
          {"DMUS_E_ALREADYCLOSED",
           "An attempt was made to close the software synthesizer while it was already closed"}},
    Entry{DMUS_E_SYNTHNOTCONFIGURED,
          {"DMUS_E_SYNTHNOTCONFIGURED",
           "The operation could not be completed because the software synth has not yet been fully "
           "configured"}},
    Entry{DMUS_E_SYNTHACTIVE,
          {"DMUS_E_SYNTHACTIVE",
           "The operation cannot be carried out while the synthesizer is active"}},
    Entry{DMUS_E_CANNOTREAD,
          {"DMUS_E_CANNOTREAD",
           "An error occurred while attempting to read from the IStream* object"}},
    Entry{DMUS_E_DMUSIC_RELEASED,
          {"DMUS_E_DMUSIC_RELEASED",
           "The operation cannot be performed because the final instance of the DirectMusic object "
           "was released"}},
    Entry{DMUS_E_BUFFER_EMPTY,
          {"DMUS_E_BUFFER_EMPTY", "There was no data in the referenced buffer"}},
    Entry{DMUS_E_BUFFER_FULL,
          {"DMUS_E_BUFFER_FULL",
           "There is insufficient space to insert the given event into the buffer"}},
    Entry{DMUS_E_PORT_NOT_CAPTURE,
          {"DMUS_E_PORT_NOT_CAPTURE",
           "The given operation could not be carried out because the port is a capture port"}},
    Entry{DMUS_E_PORT_NOT_RENDER,
          {"DMUS_E_PORT_NOT_RENDER",
           "The given operation could not be carried out because the port is a render port"}},
    Entry{DMUS_E_DSOUND_NOT_SET,
          {"DMUS_E_DSOUND_NOT_SET",
           "The port could not be created because no DirectSound has been specified"}},
    Entry{DMUS_E_ALREADY_ACTIVATED,
          {"DMUS_E_ALREADY_ACTIVATED",
           "The operation cannot be carried out while the port is active"}},
    Entry{DMUS_E_INVALIDBUFFER,
          {"DMUS_E_INVALIDBUFFER", "Invalid DirectSound buffer was handed to port"}},
    Entry{DMUS_E_WAVEFORMATNOTSUPPORTED,
          {"DMUS_E_WAVEFORMATNOTSUPPORTED", "Invalid buffer format was handed to the synth sink"}},
    Entry{DMUS_E_SYNTHINACTIVE,
          {"DMUS_E_SYNTHINACTIVE",
           "The operation cannot be carried out while the synthesizer is inactive"}},
    Entry{DMUS_E_DSOUND_ALREADY_SET,
          {"DMUS_E_DSOUND_ALREADY_SET",
           "IDirectMusic::SetDirectSound has already been called. It may not be changed while in "
           "use"}},
    Entry{DMUS_E_INVALID_EVENT,
          {"DMUS_E_INVALID_EVENT",
           "The given event is invalid (either it is not a valid MIDI message or it makes use of "
           "running status)"}},
    Entry{DMUS_E_NOT_INIT,
          {"DMUS_E_NOT_INIT", "A required object is not initialized or failed to initialize"}},
    Entry{DMUS_E_LOADER_NOCLASSID, {"DMUS_E_LOADER_NOCLASSID", "No class id"}},
    Entry{DMUS_E_LOADER_BADPATH, {"DMUS_E_LOADER_BADPATH", "The requested file path is invalid"}},
    Entry{
        DMUS_E_LOADER_FAILEDOPEN,
        {"DMUS_E_LOADER_FAILEDOPEN", "File open failed - either file doesn't exist or is locked"}},
    Entry{DMUS_E_LOADER_FORMATNOTSUPPORTED,
          {"DMUS_E_LOADER_FORMATNOTSUPPORTED", "Search data type is not supported"}},
    Entry{DMUS_E_LOADER_FAILEDCREATE,
          {"DMUS_E_LOADER_FAILEDCREATE", "Unable to find or create object"}},
    Entry{DMUS_E_LOADER_OBJECTNOTFOUND, {"DMUS_E_LOADER_OBJECTNOTFOUND", "Object was not found"}},
    Entry{DMUS_E_LOADER_NOFILENAME,
          {"DMUS_E_LOADER_NOFILENAME", "The file name is missing from the DMUS_OBJECTDESC"}},
    Entry{DSERR_ALLOCATED,
          {"DSERR_ALLOCATED",
           "The call failed because resources (such as a priority level) were already being used "
           "by another caller"}},
    Entry{DSERR_CONTROLUNAVAIL,
          {"DSERR_CONTROLUNAVAIL",
           "The control (vol, pan, etc.) requested by the caller is not available"}},
    Entry{DSERR_INVALIDCALL,
          {"DSERR_INVALIDCALL", "This call is not valid for the current state of this object"}},
    Entry{DSERR_PRIOLEVELNEEDED,
          {"DSERR_PRIOLEVELNEEDED",
           "The caller does not have the priority level required for the function to succeed"}},
    Entry{DSERR_BADFORMAT, {"DSERR_BADFORMAT", "The specified WAVE format is not supported"}},
    Entry{DSERR_NODRIVER, {"DSERR_NODRIVER", "No sound driver is available for use"}},
    Entry{DSERR_ALREADYINITIALIZED,
          {"DSERR_ALREADYINITIALIZED", "This object is already initialized"}},
    Entry{DSERR_BUFFERLOST,
          {"DSERR_BUFFERLOST", "The buffer memory has been lost, and must be restored"}},
    Entry{DSERR_OTHERAPPHASPRIO,
          {"DSERR_OTHERAPPHASPRIO",
           "Another app has a higher priority level, preventing this call from succeeding"}},
    Entry{DSERR_UNINITIALIZED, {"DSERR_UNINITIALIZED", "This object has not been initialized"}},
};

constexpr bool CodesAreUnique() {
    for (std::size_t i = 0; i < kTable.size(); ++i)
        for (std::size_t j = i + 1; j < kTable.size(); ++j)
            if (kTable[i].code == kTable[j].code)
                return false;
    return true;
}
static_assert(CodesAreUnique(), "each result code has one entry");

}  // namespace

ResultText DescribeResult(HRESULT code) {
    const auto it = std::find_if(kTable.begin(), kTable.end(),
                                 [code](const Entry& e) { return e.code == code; });
    if (it == kTable.end())
        return {"Unknown", "n/a"};
    return it->text;
}

}  // namespace platform::music
