#ifndef ARTPAINT_H
#define ARTPAINT_H

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <functional>

// Drawing helpers shared by every picture of the artwork generator: a blur for
// glows, seeded noise, the bent-wire digits of a Nixie tube, a whole tube and
// the TR-31 watch. Everything is drawn from shapes; nothing is read from disk.
namespace ArtPaint {

extern const QColor accent;     // the TR-31 theme's yellow
extern const QColor accentDeep; // its deeper orange

enum class WatchView { General, Settings, Service, Customize };

// A transparent ARGB32 premultiplied image.
QImage newImage(int width, int height);

// Three passes of a box blur, about a Gaussian of the given radius.
void blur(QImage &image, int radius);

// Paints with draw on a transparent layer, blurs it and adds it to image.
void addGlow(QImage &image, const std::function<void(QPainter &)> &draw, int radius,
             QPainter::CompositionMode mode = QPainter::CompositionMode_Plus);

// Adds grey noise of at most +-amplitude levels, the same for every run.
void addNoise(QImage &image, int amplitude, quint32 seed);

// Darkens the corners of an opaque image.
void addVignette(QImage &image, qreal strength);

// The cathode of digit (0..9) as an open wire path fitted into box.
QPainterPath nixieDigit(int digit, const QRectF &box);

// A lit digit: orange halo, glowing wire and a hot core, stroke pixels thick;
// halo scales the width of the outer glow.
void paintLitDigit(QImage &image, int digit, const QRectF &box, qreal stroke, qreal halo = 1.0);

// Where the digits sit inside a tube whose glass envelope is body.
QRectF tubeDigitBox(const QRectF &body);

// A Nixie tube: glass envelope body, stacked cathodes, mesh anode, and the
// given digit lit (-1: none). withBase adds the socket and the pins below.
void paintTube(QImage &image, const QRectF &body, int litDigit, bool withBase);

// The coloured backlight that sits under the tube's glass.
void paintBacklight(QImage &image, const QRectF &body, const QColor &colour);

// The glass envelope of the tube at index 0..3 of the 420x420 watch.
QRectF watchTubeBody(int index);

void paintWatch(QImage &image, WatchView view);

// Text laid out letter by letter with extra spacing between the letters.
QPainterPath spacedText(const QString &text, const QFont &font, qreal spacing);

// Draws text centred in the image, shrunk if needed to leave a margin.
void paintCentredText(QImage &image, const QString &text, const QFont &font, qreal spacing,
                      const QColor &colour);

} // namespace ArtPaint

#endif // ARTPAINT_H
