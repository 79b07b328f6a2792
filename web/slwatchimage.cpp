#include "slwatchimage.h"

#include <QPainter>

SlWatchImage::SlWatchImage(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{}

void SlWatchImage::paint(QPainter *painter)
{
    painter->drawImage(QPointF(0, 0), m_image);
}

void SlWatchImage::setImage(QImage image)
{
    m_image = image;
    emit imageChanged(m_image);
    setHeight(m_image.height());
    setWidth(m_image.width());
    update();
}
