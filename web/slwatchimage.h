#pragma once

#include <QImage>
#include <QQuickPaintedItem>

// Shows a QImage in QML, which has no element for an image value: drawn unscaled at the
// item's origin, the item taking the image's size.
class SlWatchImage : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)

public:
    explicit SlWatchImage(QQuickItem *parent = nullptr);

    QImage image() const { return m_image; }
    void paint(QPainter *painter) override;

signals:
    void imageChanged(QImage &image);

public slots:
    void setImage(QImage image);

private:
    QImage m_image;
};
