#include "sync/TransferVerdict.h"

TransferVerdict transferVerdict(const std::optional<RequestError> &error)
{
    if (!error)
        return TransferVerdict::Done;
    const int status = error->statusCode;
    if (status == RequestManager::kNoResponse)
        return error->domain == QLatin1String(kNetworkErrorDomain) ? TransferVerdict::ServiceDown
                                                                   : TransferVerdict::RetryClip;
    if (status == 507)
        return TransferVerdict::QuotaFull;
    if (status == 413 || status == 431)
        return TransferVerdict::FailClip;
    if (status == 409)
        return TransferVerdict::Done;
    if (status == 401 || status == 408 || status == 429 || status >= 500)
        return TransferVerdict::ServiceDown;
    return TransferVerdict::RetryClip;
}
