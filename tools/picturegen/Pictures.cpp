// The whole set of the installation's pictures, and the file each one is written to.
// The file names are the ones the instrument opens from its current directory.
#include "Pictures.h"

#include <cmath>

double geometry::HalfHeightAt(double depth) {
    return depth * std::tan(FieldOfView / 2.0 * M_PI / 180.0);
}

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

const std::vector<PictureFileEntry> PictureFileTable = {
    {"VOR_ADF.txr", &PictureSet::card},
    {"VOR_ADF_ind_mask.txr", &PictureSet::faceMask},
    {"VOR_ADF_ind.txr", &PictureSet::face},
    {"VOR1_mask.txr", &PictureSet::needle1Mask},
    {"VOR1_ago.txr", &PictureSet::needle1},
    {"VOR2_mask.txr", &PictureSet::needle2Mask},
    {"VOR2_ago.txr", &PictureSet::needle2},
    {"setpos.txr", &PictureSet::positionMode},
    {"setsize.txr", &PictureSet::sizeMode},
    {"VOR1ADF.txr", &PictureSet::needle1Selector},
    {"VOR2ADF.txr", &PictureSet::needle2Selector},
    {"font.bmp", &PictureSet::font},
};

void WriteAllPictures(const PictureSet& set, const std::string& folder) {
    const std::string prefix = folder.empty() ? std::string() : folder + "/";
    for (const PictureFileEntry& entry : PictureFileTable)
        WriteFileBytes(prefix + entry.name, EncodeBitmapFile(set.*entry.picture));
    WriteFileBytes(prefix + IconFileName, EncodeIconFile(set.icon));
}
