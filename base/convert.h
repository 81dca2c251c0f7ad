// Pixel-format conversions of bitmaps: from the fixed layouts image data
// arrives in (5-6-5 words, blue-green-red bytes) to the screen's channel order,
// and copies between bitmaps of different depth.
#pragma once

struct EBM;

// Rearranges the channels of the bitmap in place into the screen's order.
void Qel_ChangeBitOrdering(EBM* bitmap);
// Copies source into destination of equal size; 1 converted, 0 refused.
int Qel_ChangeEBMType(EBM* dst, EBM* src);
