// Draws the package's icon (packaging/fatotal.svg, shape for shape) into the
// pictures that the programs carry: fatotal.png for the window and
// fatotal.ico for the Windows programs. Neither Qt for Windows nor the build
// machine renders SVG, so the pictures are made once with this and kept:
//   fatotal-make-icon app/resources
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>
#include <cstdio>

namespace {

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 128.0, size / 128.0); // the SVG's view box
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2f6f8f));
    p.drawRoundedRect(QRectF(8, 8, 112, 112), 18, 18);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(24, 20, 64, 84), 4, 4);
    p.setBrush(QColor(0xcfe3ee));
    p.drawRoundedRect(QRectF(24, 20, 64, 14), 4, 4);

    p.setPen(QPen(QColor(0x7a9aab), 3, Qt::SolidLine, Qt::RoundCap));
    for (const int y : {44, 54, 64})
        p.drawLine(QPointF(32, y), QPointF(80, y));
    p.drawLine(QPointF(32, 74), QPointF(60, 74));
    p.setPen(QPen(QColor(0x1f4f66), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 88), QPointF(80, 88));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf2b632));
    p.drawEllipse(QPointF(88, 88), 22, 22);
    // The turning arrow: 300 degrees of a circle of 11 around (88, 88),
    // clockwise from the upper right, and its head.
    const QRectF circle(77, 77, 22, 22);
    QPainterPath arc;
    arc.arcMoveTo(circle, 45);
    arc.arcTo(circle, 45, -300.2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF{{83.6, 71.6}, {86.7, 83.2}, {92.9, 75.3}});
    return image;
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void put16(QByteArray &out, quint16 v)
{
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&v), 2);
}

void put32(QByteArray &out, quint32 v)
{
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&v), 4);
}

// An ICO of PNG pictures, which Windows reads since Vista.
QByteArray ico(const QList<int> &sizes)
{
    QByteArray header;
    QByteArray body;
    put16(header, 0);
    put16(header, 1); // an icon
    put16(header, quint16(sizes.size()));
    quint32 offset = 6 + 16 * quint32(sizes.size());
    for (const int size : sizes) {
        const QByteArray picture = png(drawIcon(size));
        header.append(char(size >= 256 ? 0 : size)); // 0 stands for 256
        header.append(char(size >= 256 ? 0 : size));
        header.append(char(0)); // no palette
        header.append(char(0));
        put16(header, 1);  // colour planes
        put16(header, 32); // bits per pixel
        put32(header, quint32(picture.size()));
        put32(header, offset);
        offset += quint32(picture.size());
        body += picture;
    }
    return header + body;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: fatotal-make-icon <folder>\n");
        return 2;
    }
    const QDir dir(args.at(1));
    if (!writeFile(dir.filePath(QStringLiteral("fatotal.png")), png(drawIcon(128))) ||
        !writeFile(dir.filePath(QStringLiteral("fatotal.ico")), ico({16, 24, 32, 48, 256}))) {
        std::fprintf(stderr, "fatotal-make-icon: cannot write into %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
