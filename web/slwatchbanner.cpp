#include "slwatchbanner.h"

#include "storage/slwatchsettings.h"
#include "web/slservicehub.h"
#include "web/slwebservice.h"

SlWatchBanner::SlWatchBanner(QObject *parent)
    : QObject(parent)
{
    connect(&m_refreshTimer, &QTimer::timeout, this, &SlWatchBanner::getBannerModel);
}

void SlWatchBanner::setImage(QImage &image)
{
    m_image = image;
    emit imageChanged(m_image);
}

void SlWatchBanner::setAppLogic(SlServiceHub *appLogic)
{
    if (appLogic == m_appLogic)
        return;
    if (m_appLogic)
        disconnect(m_appLogic->webService(), nullptr, this, nullptr);
    m_appLogic = appLogic;
    emit appLogicChanged(m_appLogic);
    if (!m_appLogic) {
        m_refreshTimer.stop();
        return;
    }
    SlWebService *web = m_appLogic->webService();
    connect(web, &SlWebService::bannerModelReceived, this, &SlWatchBanner::bannerModelReceived);
    connect(web, &SlWebService::fileReceived, this, &SlWatchBanner::bannerImageReceived);

    SlWatchSettings *settings = m_appLogic->settings();
    bool haveImage = false;
    bool haveImageLink = false;
    bool haveLink = false;
    QImage cached = settings->bannerImage(&haveImage);
    const QUrl cachedImageLink = settings->bannerImageLink(&haveImageLink);
    const QUrl cachedLink = settings->bannerLink(&haveLink);
    if (haveImage && haveImageLink && haveLink) {
        setImage(cached);
        setImageLink(cachedImageLink);
        setBannerLink(cachedLink);
    }
    m_refreshTimer.setInterval(RefreshIntervalMs);
    m_refreshTimer.start();
    getBannerModel();
}

void SlWatchBanner::getBannerModel()
{
    if (m_appLogic)
        m_appLogic->webService()->getBannerModel();
}

void SlWatchBanner::bannerModelReceived(QVariantMap map, int error)
{
    if (error != SlWebService::SUCCESSFUL || !m_appLogic)
        return;
    const QUrl newImage(map.value(QStringLiteral("image")).toString());
    if (newImage.isEmpty() || newImage == m_imageLink)
        return;
    m_appLogic->webService()->downloadFile(newImage, QVariant(map));
}

void SlWatchBanner::bannerImageReceived(QUrl url, QVariant tag, QByteArray &data, int error)
{
    const QVariantMap map = tag.toMap();
    const QUrl newImage(map.value(QStringLiteral("image")).toString());
    const QUrl newLink(map.value(QStringLiteral("url")).toString());
    // Every download of the service passes here; only our own banner images count.
    if (newImage.isEmpty() || url != newImage || error != SlWebService::SUCCESSFUL || !m_appLogic)
        return;
    setImageLink(newImage);
    setBannerLink(newLink);
    SlWatchSettings *settings = m_appLogic->settings();
    if (!settings->setBannerImageLink(newImage) || !settings->setBannerLink(newLink) ||
        !settings->setBannerImage(data))
        qDebug() << "bannerImageReceived: cannot cache the banner";
    QImage image = QImage::fromData(data);
    setImage(image);
}

void SlWatchBanner::setBannerLink(const QUrl &link)
{
    if (link == m_bannerLink)
        return;
    m_bannerLink = link;
    emit bannerLinkChanged(m_bannerLink);
}

void SlWatchBanner::setImageLink(const QUrl &link)
{
    if (link == m_imageLink)
        return;
    m_imageLink = link;
    emit imageLinkChanged(m_imageLink);
}
