#pragma once

#include "sync/RequestManager.h"

#include <optional>

// What a lane makes of the end of one transfer of a clip.
enum class TransferVerdict {
    // The service has what was sent, or said that it had it already.
    Done,
    // Refused for this clip alone: the clip is kept (its change mark too) for another try at a
    // time of its own, and the lane goes on with the next clip.
    RetryClip,
    // Can never go through as it is (too large for the service): failed for good.
    FailClip,
    // No answer, or a service that cannot work now: the whole lane waits and tries again.
    ServiceDown,
    // The account's storage is full: the lane waits, and the user is told.
    QuotaFull,
};

// From the error of a transfer (none: done). The HTTP status decides where there is one:
// 507 quota full; 413 and 431 too large; 409 a payload the service holds already; 401, 408,
// 429 and 5xx the service cannot work now; other refusals concern the clip. A transfer that
// ended without an answer failed on the network (the service cannot be reached) or here (a
// payload missing, bytes that are not the clip's), which concerns the clip. A refusal inside
// a successful answer (a "code" the caller does not act on) concerns the clip.
TransferVerdict transferVerdict(const std::optional<RequestError> &error);

// The domain of errors raised by the network layer (the transport's QNetworkReply errors).
inline constexpr char kNetworkErrorDomain[] = "QNetworkReply";
