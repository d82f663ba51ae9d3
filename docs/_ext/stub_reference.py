"""Reference entries read from a type stub (.pyi) rather than imported.

pwpoly's runtime docstrings are empty on purpose; its documentation lives in
its stub. The directive

    .. stub-module:: ../src/binding/pwpoly.pyi
       :module: pwpoly

(in reStructuredText, or in a MyST page inside an ``{eval-rst}`` block, as
the entries are written in reStructuredText)
parses the stub with ``ast`` and writes one ``py:function`` or ``py:class``
entry (with ``py:method`` entries for its methods) per public name, in the
order of ``__all__``, with the stub's signatures and docstrings. Docstrings go
through napoleon's NumPy-style converter, as autodoc's would.
"""

from __future__ import annotations

import ast
import inspect
import re
from pathlib import Path

from docutils import nodes
from docutils.parsers.rst import directives
from docutils.statemachine import StringList
from sphinx.ext.napoleon.docstring import NumpyDocstring
from sphinx.util.docutils import SphinxDirective
from sphinx.util.nodes import nested_parse_with_titles


def _signature(function: ast.FunctionDef, drop_first: bool) -> str:
    arguments = function.args
    positional = arguments.posonlyargs + arguments.args
    if drop_first:
        positional = positional[1:]
    parts = [argument.arg for argument in positional]
    # Annotations are left out of the entry's signature: the stub's aliases
    # (_Float, _Floats) mean nothing to a reader; the docstrings say what a
    # parameter takes. The return annotation stays.
    if arguments.kwonlyargs:
        parts.append("*")
        parts += [argument.arg for argument in arguments.kwonlyargs]
    returns = f" -> {ast.unparse(function.returns)}" if function.returns else ""
    return f"({', '.join(parts)}){returns}"


def _public_names(tree: ast.Module) -> list[str]:
    for statement in tree.body:
        if isinstance(statement, ast.Assign) and any(
            isinstance(target, ast.Name) and target.id == "__all__" for target in statement.targets
        ):
            return list(ast.literal_eval(statement.value))
    return [
        statement.name
        for statement in tree.body
        if isinstance(statement, (ast.FunctionDef, ast.ClassDef))
        and not statement.name.startswith("_")
    ]


class StubModule(SphinxDirective):
    required_arguments = 1
    option_spec = {"module": directives.unchanged_required}

    def _docstring(self, node: ast.AST, indent: str) -> list[str]:
        text = ast.get_docstring(node) or ""  # type: ignore[arg-type]
        # Stars of plain text (2**32, (N, *shape)) are no emphasis.
        text = "\n".join(
            "``".join(
                re.sub(r"(?<!\\)\*", r"\\*", part) if index % 2 == 0 else part
                for index, part in enumerate(line.split("``"))
            )
            for line in text.splitlines()
        )
        converted = str(NumpyDocstring(inspect.cleandoc(text), self.config, what="function"))
        return [indent + line if line else "" for line in converted.splitlines()]

    def run(self) -> list[nodes.Node]:
        path = Path(self.env.relfn2path(self.arguments[0])[1]).resolve()
        self.env.note_dependency(str(path))
        tree = ast.parse(path.read_text(encoding="utf-8"))
        module = self.options["module"]
        definitions = {
            statement.name: statement
            for statement in tree.body
            if isinstance(statement, (ast.FunctionDef, ast.ClassDef))
        }
        lines = [f".. py:currentmodule:: {module}", ""]
        for name in _public_names(tree):
            definition = definitions[name]
            if isinstance(definition, ast.FunctionDef):
                lines += [f".. py:function:: {name}{_signature(definition, False)}", ""]
                lines += self._docstring(definition, "   ") + [""]
                continue
            methods = [item for item in definition.body if isinstance(item, ast.FunctionDef)]
            constructor = next((m for m in methods if m.name in ("__new__", "__init__")), None)
            signature = _signature(constructor, True).split(" -> ")[0] if constructor else ""
            lines += [f".. py:class:: {name}{signature}", "   :final:", ""]
            lines += self._docstring(definition, "   ") + [""]
            for method in methods:
                if method.name.startswith("_"):
                    continue
                lines += [f"   .. py:method:: {method.name}{_signature(method, True)}", ""]
                lines += self._docstring(method, "      ") + [""]
        container = nodes.section()
        container.document = self.state.document
        nested_parse_with_titles(self.state, StringList(lines, source=str(path)), container)
        return container.children


def setup(app):  # type: ignore[no-untyped-def]
    app.setup_extension("sphinx.ext.napoleon")
    app.add_directive("stub-module", StubModule)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
