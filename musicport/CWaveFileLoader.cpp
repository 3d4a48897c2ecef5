#include "musicport/CWaveFileLoader.h"

#include <new>

#include "musicport/CDMusicException.h"
#include "musicport/CSampleInstrument.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kLoadWaveFile = "CDLSLoader::LoadWaveFile()";
}

int CWaveFileLoader::LoadWaveFile(const char* fileName, CSampleInstrument& instrument,
                                  DWORD fromFile, const ResourceLookup& resources) {
    if (fileName == nullptr)
        throw CDMusicException(kLoadWaveFile, -1);
    std::unique_ptr<CWaveFile> file;
    std::vector<BYTE> data;
    try {
        file = std::make_unique<CWaveFile>();
        HRESULT hr = file->Open(fileName, CWaveFile::Mode::Read, nullptr, {}, resources);
        if (pm::Failed(hr))
            throw CDMusicException(kLoadWaveFile, hr);
        if (!fromFile) {
            // The reader has checked that the data chunk lies inside the file, so the size
            // is bounded by what is really there.
            data.resize(file->GetSize());
            DWORD read = 0;
            hr = file->Read(data.data(), file->GetSize(), &read);
            if (pm::Succeeded(hr) && read != file->GetSize())
                hr = pm::E_FAIL;
            if (pm::Failed(hr))
                throw CDMusicException(kLoadWaveFile, hr);
        }
    } catch (const std::bad_alloc&) {
        throw CDMusicException(kLoadWaveFile, pm::E_OUTOFMEMORY);
    }

    instrument.m_waveFormat = file->GetFormat();
    instrument.m_dwWaveSize = file->GetSize();
    instrument.m_ownedData = std::move(data);
    instrument.m_bFromFile = fromFile ? 1 : 0;
    if (fromFile) {
        instrument.m_fileName = fileName;
        instrument.m_resources = resources;
        instrument.m_pWaveData = nullptr;
    } else {
        instrument.m_fileName.clear();
        instrument.m_resources = nullptr;
        instrument.m_pWaveData = instrument.m_ownedData.data();
    }
    instrument.m_bWaveLoaded = 1;
    instrument.m_bCallerData = 0;
    return 0;
}

}  // namespace musicport
