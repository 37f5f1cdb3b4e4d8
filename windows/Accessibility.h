#pragma once

class QWidget;
class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;

// What screen readers and the keyboard need of the windows: every control
// has a name that says what it does (the design's captions carry padding
// blanks and mnemonics, and many controls have only a picture or a hint),
// each push button and bar takes the focus by Tab in reading order, and the
// small windows close by Escape as their OK or close box does.
void DescribeForScreenReaders(TForm1& window);
void DescribeForScreenReaders(TForm2& window);
void DescribeForScreenReaders(TForm3& window);
void DescribeForScreenReaders(TForm4& window);
void DescribeForScreenReaders(TForm5& window);

// The program's top-level windows show as frames to assistive technology,
// not as the anonymous fillers plain widgets are taken for. Once per program.
void AnnounceWindowsAsFrames();
