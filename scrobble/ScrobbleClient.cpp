#include "scrobble/ScrobbleClient.h"

ScrobbleClient::~ScrobbleClient() = default;

ScrobbleClient::Outcome ScrobbleClient::outcomeOf(int status)
{
    if (status >= 200 && status < 300)
        return Outcome::Accepted;
    if (status == 401 || status == 403)
        return Outcome::Refused;
    // Only what the service says of the listens themselves gives them up;
    // anything else (a wrong address, a redirect, an outage) keeps them.
    if (status == 400 || status == 413 || status == 422)
        return Outcome::Rejected;
    return Outcome::Retry;
}

#include "moc_ScrobbleClient.cpp"
