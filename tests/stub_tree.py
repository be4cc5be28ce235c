"""Side-by-side description of the runtime module tree and the stub tree.

mypy's stubtest cannot check this module: it imports each stub file's module by
its dotted name (``hydrokit._utils`` fails, as ``hydrokit.utils`` would), and it
does not descend into submodules that are only attributes. Both trees are
therefore reduced to the same plain description and compared:

    module: {"__all__": [...], name: entry, ...}
    class:  ("class", {"final": bool, "new": params or None (not constructible),
                       "methods": {name: params}, "attributes": {name: writable}})
            (stub classes also list their "bases", which must be empty)
    function: ("function", params)
    params: tuple of (name, repr of the default, or NO_DEFAULT when required)

Every runtime parameter is positional-or-keyword, so a stub parameter of any
other kind is recorded with its kind in the name and can never match.
"""

import ast
import inspect
import pathlib
import types

NO_DEFAULT = "<required>"
BASETYPE_FLAG = 1 << 10


# ---- runtime side ---------------------------------------------------------------------


def runtime_tree(module, sample_instances):
    tree = {"__all__": list(module.__all__)}
    for name in module.__all__:
        value = getattr(module, name)
        if isinstance(value, types.ModuleType):
            tree[name] = runtime_tree(value, sample_instances)
        elif isinstance(value, type):
            tree[name] = ("class", runtime_class(value, sample_instances[name]))
        else:
            tree[name] = ("function", runtime_params(inspect.signature(value)))
    return tree


def runtime_params(signature, drop_first=False):
    params = list(signature.parameters.values())[1 if drop_first else 0:]
    return tuple(
        (
            p.name if p.kind is p.POSITIONAL_OR_KEYWORD else f"{p.name} ({p.kind.description})",
            NO_DEFAULT if p.default is p.empty else repr(p.default),
        )
        for p in params
    )


def runtime_class(cls, instance):
    methods, attributes = {}, {}
    for name, member in vars(cls).items():
        if name.startswith("__"):
            continue
        if isinstance(member, types.GetSetDescriptorType):
            attributes[name] = is_writable(instance, name)
        else:
            methods[name] = runtime_params(inspect.signature(member), drop_first=True)
    constructible = "__new__" in vars(cls)
    return {
        "final": not cls.__flags__ & BASETYPE_FLAG,
        "new": runtime_params(inspect.signature(cls)) if constructible else None,
        "methods": methods,
        "attributes": attributes,
    }


def is_writable(instance, name):
    # Writing back the value just read changes nothing; a getter without a setter
    # refuses before any conversion runs.
    try:
        setattr(instance, name, getattr(instance, name))
    except AttributeError:
        return False
    return True


# ---- stub side ------------------------------------------------------------------------


def stub_tree(stub_dir, module_file="__init__.pyi"):
    stub_dir = pathlib.Path(stub_dir)
    body = ast.parse((stub_dir / module_file).read_text(encoding="utf-8")).body
    tree, overloads = {}, {}
    for node in body:
        if isinstance(node, ast.ImportFrom) and node.module is None:
            for alias in node.names:
                if alias.asname and not alias.asname.startswith("_"):
                    tree[alias.asname] = stub_tree(stub_dir, alias.name + ".pyi")
        elif isinstance(node, ast.Assign) and is_name(node.targets[0], "__all__"):
            tree["__all__"] = ast.literal_eval(node.value)
        elif isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            tree[node.name] = ("class", stub_class(node))
        elif isinstance(node, ast.FunctionDef) and not node.name.startswith("_"):
            overloads.setdefault(node.name, set()).add(stub_params(node.args))
        elif isinstance(node, (ast.Assign, ast.AnnAssign)):
            target = node.targets[0] if isinstance(node, ast.Assign) else node.target
            if not target.id.startswith("_"):
                tree[target.id] = ("variable", None)
    for name, signatures in overloads.items():
        # Overloads that only refine types share one parameter list.
        tree[name] = ("function", signatures.pop() if len(signatures) == 1 else signatures)
    return tree


def is_name(node, name):
    return isinstance(node, ast.Name) and node.id == name


def stub_params(arguments, drop_first=False):
    positional = arguments.posonlyargs + arguments.args
    defaults = [NO_DEFAULT] * (len(positional) - len(arguments.defaults)) + [
        literal(d) for d in arguments.defaults
    ]
    params = [
        (a.arg if a in arguments.args else f"{a.arg} (positional-only)", d)
        for a, d in zip(positional, defaults)
    ]
    if arguments.vararg:
        params.append((f"{arguments.vararg.arg} (variadic positional)", NO_DEFAULT))
    for a, d in zip(arguments.kwonlyargs, arguments.kw_defaults):
        params.append((f"{a.arg} (keyword-only)", NO_DEFAULT if d is None else literal(d)))
    if arguments.kwarg:
        params.append((f"{arguments.kwarg.arg} (variadic keyword)", NO_DEFAULT))
    return tuple(params[1 if drop_first else 0:])


def literal(node):
    return repr(ast.literal_eval(node))


def decorator_names(node):
    return {ast.unparse(d) for d in node.decorator_list}


def stub_class(node):
    methods, attributes, new = {}, {}, None
    for item in node.body:
        if isinstance(item, ast.AnnAssign):
            attributes[item.target.id] = True  # a plain annotation is assignable
        if not isinstance(item, ast.FunctionDef):
            continue
        decorators = decorator_names(item)
        if "property" in decorators:
            attributes[item.name] = False
        elif f"{item.name}.setter" in decorators:
            attributes[item.name] = True
        elif item.name == "__new__":
            new = None if refuses_every_call(item.args) else stub_params(item.args, True)
        elif item.name == "__init__":
            methods["__init__"] = stub_params(item.args, drop_first=True)
        elif not item.name.startswith("_"):
            methods[item.name] = stub_params(item.args, drop_first=True)
    return {
        "final": "final" in decorator_names(node),
        "bases": [ast.unparse(b) for b in node.bases],
        "new": new,
        "methods": methods,
        "attributes": attributes,
    }


def refuses_every_call(arguments):
    """`__new__(cls, x: Never, /)`: the class cannot be called at all."""
    only = arguments.posonlyargs[1:] + arguments.args
    return (
        len(only) == 1
        and only[0] in arguments.posonlyargs
        and ast.unparse(only[0].annotation) == "Never"
        and not (arguments.vararg or arguments.kwonlyargs or arguments.kwarg)
    )


# ---- comparison -----------------------------------------------------------------------


def differences(runtime, stub, path="hydrokit"):
    """Every place where the two trees disagree, as readable lines."""
    found = []
    if runtime.get("__all__") != stub.get("__all__"):
        found.append(f"{path}.__all__: runtime {runtime.get('__all__')}, stub {stub.get('__all__')}")
    for name in sorted((set(runtime) | set(stub)) - {"__all__"}):
        where = f"{path}.{name}"
        if name not in stub:
            found.append(f"{where}: missing from the stub")
        elif name not in runtime:
            found.append(f"{where}: only in the stub")
        elif isinstance(runtime[name], dict) or isinstance(stub[name], dict):
            if not (isinstance(runtime[name], dict) and isinstance(stub[name], dict)):
                found.append(f"{where}: a module on one side only")
            else:
                found.extend(differences(runtime[name], stub[name], where))
        elif runtime[name][0] != stub[name][0]:
            found.append(f"{where}: runtime {runtime[name][0]}, stub {stub[name][0]}")
        elif runtime[name][0] == "function":
            found.extend(compare_params(where, runtime[name][1], stub[name][1]))
        else:
            found.extend(compare_class(where, runtime[name][1], stub[name][1]))
    return found


def compare_params(where, runtime, stub):
    if runtime == stub:
        return []
    return [f"{where}: runtime parameters {render(runtime)}, stub {render_any(stub)}"]


def render(params):
    return "(" + ", ".join(n if d == NO_DEFAULT else f"{n}={d}" for n, d in params) + ")"


def render_any(params):
    if isinstance(params, set):
        return " or ".join(sorted(render(p) for p in params))
    return "not constructible" if params is None else render(params)


def compare_class(where, runtime, stub):
    found = []
    if stub["bases"]:
        found.append(f"{where}: stub derives from {stub['bases']}, runtime from object")
    if runtime["final"] != stub["final"]:
        found.append(f"{where}: final at runtime {runtime['final']}, in the stub {stub['final']}")
    if runtime["new"] != stub["new"]:
        found.append(
            f"{where}(): runtime {render_any(runtime['new'])}, stub {render_any(stub['new'])}"
        )
    for name in sorted(set(runtime["methods"]) | set(stub["methods"])):
        if name not in stub["methods"] or name not in runtime["methods"]:
            side = "stub" if name in stub["methods"] else "runtime"
            found.append(f"{where}.{name}(): method only in the {side}")
        else:
            found.extend(
                compare_params(f"{where}.{name}", runtime["methods"][name], stub["methods"][name])
            )
    for name in sorted(set(runtime["attributes"]) | set(stub["attributes"])):
        access = {True: "writable", False: "read-only", None: "absent"}
        runtime_access = access[runtime["attributes"].get(name)]
        stub_access = access[stub["attributes"].get(name)]
        if runtime_access != stub_access:
            found.append(f"{where}.{name}: {runtime_access} at runtime, {stub_access} in the stub")
    return found
