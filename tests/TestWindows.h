#pragma once

#include "player/Unit1.h"

#include <memory>

class TForm2;

namespace TestSupport {

// The main window as the program entry opens it: shown, then the playlist
// window below it (its Form2, owned here). The windows are built in this
// one place, so that a test reads
//     TestSupport::MainWindow f1;
//     TForm2& f2 = f1.playlist();
class MainWindow : public TForm1 {
public:
    MainWindow();
    ~MainWindow() override;

    TForm2& playlist() const { return *playlist_; }

private:
    std::unique_ptr<TForm2> playlist_;
};

} // namespace TestSupport
