#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class PreviewView;
class QLabel;
class QPushButton;

namespace Ui {
class ListCell;
}

// One row of the program list (the reusable view "customCellView"). It shows
// what its controller puts into its outlets and reports the pointer entering
// it and presses of its play and delete buttons through callbacks; it knows
// nothing of programs.
class ListCell : public QWidget {
    Q_OBJECT
public:
    using Block = std::function<void()>;

    explicit ListCell(QWidget *parent = nullptr);
    ~ListCell() override;

    PreviewView *previewImageView() const;
    QLabel *nameTF() const;
    QLabel *urlTF() const;
    QWidget *listView() const;
    QPushButton *listPlayBtn() const;
    QPushButton *listDelBtn() const;

    long row() const { return m_row; }
    // Giving the row a new index means it shows another entry: it repaints
    // as a whole (see setNeedsDisplay).
    void setRow(long row);

    Block mouseBlock() const { return m_mouseBlock; }
    Block playBlock() const { return m_playBlock; }
    Block delBlock() const { return m_delBlock; }
    void setMouseBlock(Block block) { m_mouseBlock = std::move(block); }
    void setPlayBlock(Block block) { m_playBlock = std::move(block); }
    void setDelBlock(Block block) { m_delBlock = std::move(block); }

    // Button actions: run the callback when one is set.
    void listPlayClick(QObject *sender = nullptr);
    void listDelClick(QObject *sender = nullptr);

    // Pointer tracking, driven by enter/leave events once the row is tracking.
    void mouseEntered();
    void mouseExited();
    // True from the first paint on; before it the row ignores the pointer.
    bool isTrackingPointer() const { return m_tracking; }

    // Asks for a repaint of the whole row, which hides the overlay.
    void setNeedsDisplay();

    // Starts a new image request for this row: clears the preview and drops
    // the previous request. The returned object is the request's context; it
    // lives until the next call, so a reply for an older request is never
    // delivered.
    QObject *beginImageRequest();
    QObject *currentImageRequest() const { return m_imageRequest; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    static void run(const Block &block);
    void applyAppearance();

    std::unique_ptr<Ui::ListCell> m_ui;
    long m_row = 0;
    Block m_mouseBlock;
    Block m_playBlock;
    Block m_delBlock;
    bool m_tracking = false;
    bool m_pointerInside = false;
    bool m_needsDisplay = true;
    QPointer<QObject> m_imageRequest;
};
