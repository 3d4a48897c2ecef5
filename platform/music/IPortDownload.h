#pragma once

namespace platform::music {

// Sample-memory downloads of a port that supports downloadable sounds. The operations come
// with the sample-instrument classes; until then a port offers the interface or not, and the
// output port only records whether it got one.
class IPortDownload {
public:
    virtual ~IPortDownload() = default;
};

}  // namespace platform::music
