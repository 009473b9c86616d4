// One generated picture on its own; a sender of many keeps a PicturePattern.
#include "net/GeneratedPicture.h"

#include "net/PicturePattern.h"

void GeneratePicture(int index, std::uint8_t* rgb) { PicturePattern().Fill(index, rgb); }
