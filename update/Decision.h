// What the update pass does with one delivered file.
#pragma once

namespace p2 {

// What the update pass does with one delivered file.
enum class Decision {
    kReplace,  // move it over the installed copy, then discard
    kDiscard,  // delete it
    kFailure,  // stop the pass
};

}  // namespace p2
