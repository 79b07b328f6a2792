#pragma once

#include <QImage>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

class SlServiceHub;

// The service's banner: fetched every minute, its image downloaded only when its link
// changes, and the last one cached so that it shows at once on the next start.
class SlWatchBanner : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUrl bannerLink READ bannerLink NOTIFY bannerLinkChanged)
    Q_PROPERTY(QUrl imageLink READ imageLink NOTIFY imageLinkChanged)
    Q_PROPERTY(QImage image READ image NOTIFY imageChanged)
    Q_PROPERTY(SlServiceHub *appLogic READ appLogic WRITE setAppLogic NOTIFY appLogicChanged)

public:
    static constexpr int RefreshIntervalMs = 60000;

    explicit SlWatchBanner(QObject *parent = nullptr);

    QUrl bannerLink() const { return m_bannerLink; }
    QUrl imageLink() const { return m_imageLink; }
    QImage image() const { return m_image; }
    SlServiceHub *appLogic() const { return m_appLogic; }

signals:
    void bannerLinkChanged(QUrl &bannerLink);
    void imageLinkChanged(QUrl &imageLink);
    void imageChanged(QImage &image);
    void appLogicChanged(SlServiceHub *appLogic);

public slots:
    void setImage(QImage &image);
    void setAppLogic(SlServiceHub *appLogic);

private slots:
    void bannerModelReceived(QVariantMap map, int error);
    void bannerImageReceived(QUrl url, QVariant tag, QByteArray &data, int error);
    void getBannerModel();

private:
    void setBannerLink(const QUrl &link);
    void setImageLink(const QUrl &link);

    SlServiceHub *m_appLogic = nullptr;
    QUrl m_bannerLink;
    QUrl m_imageLink;
    QImage m_image;
    QTimer m_refreshTimer;
};
