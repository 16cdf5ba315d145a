// The store does no networking, whatever path the header is named by.
#include <QtNetwork/QNetworkReply>
