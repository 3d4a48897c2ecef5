#include "musicport/CCollection.h"

#include <string_view>

#include "musicport/CDMusicException.h"
#include "musicport/Utf8Text.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

namespace pm = platform::music;

namespace {
constexpr const char* kEnumInstrument = "CCollection::EnumIntrument()";
constexpr const char* kGetByInfo = "CCollection::GetIntrument()/structure";
constexpr const char* kGetByIndex = "CCollection::GetIntrument()/index";
constexpr DWORD kNameLength = 260;
}  // namespace

HRESULT CCollection::EnumInstrument(DWORD index, InstrumentInfo* info) {
    if (!m_collection || info == nullptr)
        throw CDMusicException(kEnumInstrument, -1);
    DWORD patch = 0;
    char16_t name[kNameLength] = {};
    const HRESULT hr = m_collection->EnumInstrument(index, &patch, name, kNameLength);
    if (hr == pm::E_FAIL || hr == pm::E_OUTOFMEMORY || hr == pm::E_POINTER)
        throw CDMusicException(kEnumInstrument, hr);
    if (hr != pm::S_OK)
        return hr;
    Utf16ToUtf8(info->szInstName, std::u16string_view(name, kNameLength));
    info->dwPatchInCollection = patch;
    return pm::S_OK;
}

int CCollection::GetInstrument(CInstrument& instrument, const InstrumentInfo* info) {
    if (!m_collection || info == nullptr)
        throw CDMusicException(kGetByInfo, -1);
    instrument.m_instrument.reset();
    const HRESULT hr =
        m_collection->GetInstrument(info->dwPatchInCollection, &instrument.m_instrument);
    if (pm::Failed(hr) || !instrument.m_instrument) {
        instrument.m_instrument.reset();
        throw CDMusicException(kGetByInfo, pm::Failed(hr) ? hr : -1);
    }
    instrument.m_dwPatchInCollection = info->dwPatchInCollection;
    instrument.m_szName = info->szInstName;
    return 0;
}

int CCollection::GetInstrument(CInstrument& instrument, int index) {
    if (!m_collection)
        throw CDMusicException(kGetByIndex, -1);
    instrument.m_instrument.reset();
    InstrumentInfo info;
    const HRESULT hr = index < 0 ? pm::S_FALSE : EnumInstrument(DWORD(index), &info);
    if (pm::Failed(hr))
        throw CDMusicException(kGetByIndex, hr);
    // A position past the end has no instrument to take.
    if (hr != pm::S_OK)
        throw CDMusicException(kGetByIndex, pm::DMUS_E_INVALIDPATCH);
    const HRESULT got =
        m_collection->GetInstrument(info.dwPatchInCollection, &instrument.m_instrument);
    if (pm::Failed(got) || !instrument.m_instrument) {
        instrument.m_instrument.reset();
        throw CDMusicException(kGetByIndex, pm::Failed(got) ? got : -1);
    }
    instrument.m_dwPatchInCollection = info.dwPatchInCollection;
    instrument.m_szName = info.szInstName;
    return 0;
}

}  // namespace musicport
