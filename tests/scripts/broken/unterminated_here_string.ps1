$Source = @'
public static class Example
{
}

Add-Type -TypeDefinition $Source
