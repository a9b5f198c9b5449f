#include "hub/engine/TrackLog.h"

namespace tavro {

NoTrackLog& NoTrackLog::Instance() {
    static NoTrackLog log;
    return log;
}

} // namespace tavro
