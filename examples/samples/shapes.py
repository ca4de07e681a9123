"""Plane shapes with their areas and perimeters, and a small async loader of shape lists."""
from __future__ import annotations

import asyncio
import math
from dataclasses import dataclass


class Shape:
    """Base class: every shape knows its area and its perimeter."""

    def area(self) -> float:
        raise NotImplementedError

    def perimeter(self) -> float:
        raise NotImplementedError

    def describe(self) -> str:
        return f"{type(self).__name__} with area {self.area():.2f} and perimeter {self.perimeter():.2f}"


@dataclass
class Circle(Shape):
    radius: float

    def area(self) -> float:
        return math.pi * self.radius ** 2

    def perimeter(self) -> float:
        return 2 * math.pi * self.radius


@dataclass
class Rectangle(Shape):
    width: float
    height: float

    def area(self) -> float:
        return self.width * self.height

    def perimeter(self) -> float:
        return 2 * (self.width + self.height)


def parse_shape(line: str) -> Shape:
    """Reads "circle 2" or "rectangle 3 4"."""
    kind, *numbers = line.split()
    values = [float(n) for n in numbers]
    if kind == "circle":
        return Circle(*values)
    if kind == "rectangle":
        return Rectangle(*values)
    raise ValueError(f"unknown shape: {kind}")


def total_area(shapes: list[Shape]) -> float:
    return sum(shape.area() for shape in shapes)


async def load_shapes(lines: list[str], delay: float = 0.0) -> list[Shape]:
    shapes = []
    for line in lines:
        await asyncio.sleep(delay)
        shapes.append(parse_shape(line))
    return shapes


if __name__ == "__main__":
    loaded = asyncio.run(load_shapes(["circle 1", "rectangle 2 3", "circle 0.5"]))
    for shape in loaded:
        print(shape.describe())
    print(f"total area: {total_area(loaded):.2f}")
