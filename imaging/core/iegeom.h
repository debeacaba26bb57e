// Plane geometry on integer screen coordinates (x right, y down): point and rectangle tests, distances
// from a point to lines, segments, polylines, ellipse and rectangle outlines (the hit tests of
// selections and vector objects), angles, snapping a dragged line to 0/45/90 degrees, rotation of
// point arrays, even-odd polygon tests and fitting a size into a box. Angles are in radians unless
// named in degrees; positive rotations turn counter-clockwise as displayed.
#pragma once
#include <windows.h>

bool IEPointInRect(int x, int y, int x1, int y1, int x2, int y2);  // bounds inclusive, as given
bool IEPointInNormalizedRect(int x, int y, int x1, int y1, int x2, int y2);  // corners ordered first
// The segment's bounding box overlaps the rectangle (bounds inclusive).
bool IESegmentBoxIntersectsRect(int x1, int y1, int x2, int y2, int rx1, int ry1, int rx2, int ry2);
RECT IEExpandRectToPoint(RECT r, int x, int y);
// Largest size of the same aspect inside the box, each side at least 1; nothing when width or height is 0.
void IEFitSizeInBox(int width, int height, int boxWidth, int boxHeight, int& newWidth, int& newHeight);

double IEDistance(double x1, double y1, double x2, double y2);
double IEDistanceToLine(int px, int py, int x1, int y1, int x2, int y2);
// 1,000,000 when an end point is more than 45,000 pixels away on one axis (the "far away" answer).
double IEDistanceToSegment(int px, int py, int x1, int y1, int x2, int y2);
// Points mapped to the view (x' = Round(zoomX (p.x - originX) + offsetX)); a pen wider than 1 pixel
// also tries the segments shifted within it. 1,000,000 for no points.
double IEDistanceToPolyline(int px, int py, const POINT* points, int count, int originX, int originY, int offsetX,
                            int offsetY, double zoomX, double zoomY, int penWidth, bool closed);
double IEDistanceToEllipse(int px, int py, int x1, int y1, int x2, int y2, bool filled, int penWidth);
double IEDistanceToRectEdges(int px, int py, int x1, int y1, int x2, int y2, bool filled, int penWidth);

double IEArcTan2(double y, double x);
double IEArcCos(double c);  // ArcTan2(sqrt(1 - c^2), c)
// Angle between P1->P2 and P2->P3 (0..pi); 0 when a vector has length 0.
double IEVectorsAngle(int x1, int y1, int x2, int y2, int x3, int y3);
// Direction of P1->P2 in 0..2pi, counter-clockwise on the screen: up is pi/2.
double IELineAngle(int x1, int y1, int x2, int y2);
int IETurnDirection(int x1, int y1, int x2, int y2, int x3, int y3);  // 1, -1 or 0 (see the source)
double IEAngleAtVertex(int x1, int y1, int x2, int y2, int x3, int y3);  // angle at P2, 0..2pi

// Moves (x, y) so that the line from the anchor is horizontal, vertical or diagonal.
void IESnapLineAngle(int ax, int ay, int& x, int& y);
void IERotatePoints(POINT* points, int highIndex, double angleDegrees, int cx, int cy);
bool IEPointInPolygon(int x, int y, const POINT* points, int highIndex);  // even-odd rule
bool IEPointInPolygonTransformed(int x, int y, const POINT* points, int count, int originX, int originY, int offsetX,
                                 int offsetY, double zoomX, double zoomY);
