// Art helper, not part of the application: renders SVG sources to PNG with Qt's own
// SVG renderer (the one the program uses) and draws a contact sheet of the icon set.
//   svgtool png <in.svg> <out.png> <width> <height>
//   svgtool sheet <out.png> <assets dir> <gif>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QImageReader>
#include <QtGui/QPainter>
#include <QtSvg/QSvgRenderer>
#include <QtCore/QDir>
#include <cstdio>

static QImage renderSvg(const QString &path, QSize size, const QColor &bg = Qt::transparent)
{
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(bg);
    QSvgRenderer r(path);
    QPainter p(&img);
    r.render(&p);
    return img;
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() == 6 && a[1] == "png") {
        QImage img = renderSvg(a[2], QSize(a[4].toInt(), a[5].toInt()));
        return img.save(a[3]) ? 0 : 1;
    }
    if (a.size() == 5 && a[1] == "sheet") {
        QDir dir(a[3]);
        const QStringList svgs = dir.entryList({"*.svg"}, QDir::Files, QDir::Name);
        const int cellW = 230, cellH = 86, cols = 4;
        const int rows = (svgs.size() + cols - 1) / cols;
        QImage logoA(dir.filePath("Vexadin logo_ system-version.png"));
        QImage logoB(dir.filePath("Vexadin logo_navigate.png"));
        const int top = 140;
        QImage sheet(cols * cellW, top + rows * cellH, QImage::Format_ARGB32_Premultiplied);
        sheet.fill(QColor("#F2F2F2"));
        QPainter p(&sheet);
        p.drawImage(10, 10, logoA);
        p.drawImage(330, 10, logoB.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        p.drawImage(410, 10, logoB.scaled(28, 28, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        p.drawImage(450, 10, logoB.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        QImageReader gif(a[4]);
        p.drawImage(500, 10, gif.read());
        p.setPen(Qt::black);
        p.drawText(580, 30, QString("gif frames: %1").arg(gif.imageCount()));
        QFont f = p.font();
        f.setPixelSize(10);
        p.setFont(f);
        for (int i = 0; i < svgs.size(); ++i) {
            const int x = (i % cols) * cellW, y = top + (i / cols) * cellH;
            const QString path = dir.filePath(svgs[i]);
            QSvgRenderer r(path);
            const QSize def = r.defaultSize();
            const qreal aspect = def.height() > 0 ? qreal(def.width()) / def.height() : 1.0;
            auto drawAt = [&](int px, int py, int h, const QColor &bg) {
                const int w = qRound(h * aspect);
                p.fillRect(px, py, qMax(w, h) + 8, h + 8, bg);
                p.drawImage(px + 4, py + 4, renderSvg(path, QSize(w, h)));
            };
            drawAt(x + 4, y + 4, 24, Qt::white);
            drawAt(x + 4 + 36, y + 4, 24, QColor("#004B6A"));
            drawAt(x + 80, y + 4, 48, Qt::white);
            drawAt(x + 80 + 60, y + 4, 48, QColor("#004B6A"));
            p.setPen(Qt::black);
            p.drawText(x + 4, y + cellH - 14, svgs[i].left(44));
            p.drawText(x + 4, y + cellH - 3, QString("%1x%2").arg(def.width()).arg(def.height()));
        }
        p.end();
        return sheet.save(a[2]) ? 0 : 1;
    }
    std::fprintf(stderr, "usage: svgtool png <in.svg> <out.png> <w> <h> | sheet <out.png> <assets> <gif>\n");
    return 2;
}
