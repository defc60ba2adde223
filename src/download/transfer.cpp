#include "download/transfer.h"

namespace download {

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Done:
        return "done";
    case Outcome::NotFound:
        return "not found";
    case Outcome::Refused:
        return "refused";
    case Outcome::LoginRefused:
        return "log-in refused";
    case Outcome::SiteDown:
        return "site down";
    case Outcome::Stalled:
        return "stalled";
    case Outcome::Short:
        return "short";
    case Outcome::Overran:
        return "overran";
    case Outcome::LocalError:
        return "local write error";
    case Outcome::Tls:
        return "TLS";
    case Outcome::Redirects:
        return "redirects";
    case Outcome::Broken:
        return "broken off";
    case Outcome::GivenUp:
        return "given up";
    case Outcome::Stopped:
        return "stopped";
    case Outcome::NotAudio:
        return "not audio";
    case Outcome::Damaged:
        return "damaged";
    }
    return "";
}

bool keptPending(Outcome outcome) {
    switch (outcome) {
    case Outcome::Done:
    case Outcome::NotFound:
    case Outcome::Refused:
    case Outcome::Overran:
    case Outcome::Stopped:
    case Outcome::NotAudio:
    case Outcome::Damaged:
        return false;
    default:
        return true;
    }
}

} // namespace download
