// The whole set of the installation's pictures, each written to the file the instrument
// opens for its slot.
#include "Pictures.h"

PictureSet DrawAllPictures() {
    PictureSet set;
    set.card = DrawCard();
    DrawFace(set.face, set.faceMask);
    DrawNeedle1(set.needle1, set.needle1Mask);
    DrawNeedle2(set.needle2, set.needle2Mask);
    set.positionMode = DrawPositionMode();
    set.sizeMode = DrawSizeMode();
    set.needle1Selector = DrawSelector(1);
    set.needle2Selector = DrawSelector(2);
    set.font = DrawFont();
    set.icon = DrawIcon();
    return set;
}

const Picture PictureSet::* const SlotPictures[TextureCount] = {
    &PictureSet::card,            &PictureSet::faceMask,        &PictureSet::face,
    &PictureSet::needle2Mask,     &PictureSet::needle2,         &PictureSet::needle1Mask,
    &PictureSet::needle1,         &PictureSet::positionMode,    &PictureSet::sizeMode,
    &PictureSet::needle2Selector, &PictureSet::needle1Selector,
};

void WriteAllPictures(const PictureSet& set, const std::string& folder) {
    const std::string prefix = folder.empty() ? std::string() : folder + "/";
    for (const PictureFile& file : PictureFiles)
        WriteFileBytes(prefix + file.name, EncodeBitmapFile(set.*SlotPictures[file.slot]));
    WriteFileBytes(prefix + FontFile, EncodeBitmapFile(set.font));
    WriteFileBytes(prefix + IconFile, EncodeIconFile(set.icon));
}
